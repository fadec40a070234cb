#!/usr/bin/env python3
"""Size and speed of Kestrel, measured (not a test).

Prints the 32-bit exe's size and DLL imports, and the median wall time of a
headless Kestrel run under Wine next to that of an empty Win32 program built
the same way, both timed in this run, interleaved.

    python3 scripts/benchmark.py [BUILD_DIR] [RUNS]     (after the default build)
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', 'tests'))
from check_exe import Image  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'build')
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15

exe32 = os.path.join(build, 'i686', 'Kestrel.exe')
with open(exe32, 'rb') as f:
    image = Image(f.read())
print(f'Kestrel.exe (32-bit): {os.path.getsize(exe32)} bytes; '
      f'empty program: {os.path.getsize(os.path.join(build, "i686", "EmptyProgram.exe"))} bytes')
print(f'DLL imports: {", ".join(image.imported_dlls())}')

work = tempfile.mkdtemp(prefix='kestrel-bench-')
env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
env.update(WINEPREFIX=os.path.join(work, 'prefix'), WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
subprocess.run(['wine', 'wineboot', '-i'], check=True, **quiet)
server = subprocess.Popen(['wineserver', '-p', '-f'], start_new_session=True, **quiet)
programs = {}
for name in ('Kestrel.exe', 'EmptyProgram.exe'):
    shutil.copy(os.path.join(build, 'x86_64', name), work)
    programs[name] = []
try:
    for _ in range(runs):
        for name, times in programs.items():
            start = time.perf_counter()
            subprocess.run(['wine', os.path.join(work, name)], cwd=work, **quiet)
            times.append(time.perf_counter() - start)
finally:
    subprocess.run(['wineserver', '-k'], **quiet)
    server.wait()
    shutil.rmtree(work, ignore_errors=True)

kestrel = statistics.median(programs['Kestrel.exe'])
empty = statistics.median(programs['EmptyProgram.exe'])
print(f'median of {runs} headless runs under Wine (64-bit build): Kestrel {kestrel * 1000:.0f} ms, '
      f'empty program {empty * 1000:.0f} ms, ratio {kestrel / empty:.2f}')
