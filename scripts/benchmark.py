#!/usr/bin/env python3
"""Size and speed of Kestrel, measured (not a test).

Prints the 32-bit exe's size, and the median wall time of a
headless run of it under Wine (WoW64) next to that of an empty 32-bit Win32
program built the same way, both timed in this run, interleaved.

    python3 scripts/benchmark.py [BUILD_DIR] [RUNS]     (after the default build)
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
build = os.path.join(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'build'), 'i686')
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
wine = ['bash', os.path.join(here, 'windows', 'wine.sh')]

exe = os.path.join(build, 'Kestrel.exe')
print(f'Kestrel.exe (32-bit): {os.path.getsize(exe)} bytes; '
      f'empty program: {os.path.getsize(os.path.join(build, "EmptyProgram.exe"))} bytes')

work = tempfile.mkdtemp(prefix='kestrel-bench-', dir='/var/tmp')
env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
env.update(WINEPREFIX=os.path.join(work, 'prefix'), WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
quiet = dict(env=env, cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
times = {'Kestrel.exe': [], 'EmptyProgram.exe': []}
try:
    subprocess.run(wine + ['wine', 'wineboot', '-i'], check=True, **quiet)
    subprocess.Popen(wine + ['wineserver', '-p'], start_new_session=True, **quiet)
    for name in times:
        shutil.copy(os.path.join(build, name), work)
    for _ in range(runs):
        for name, taken in times.items():
            start = time.perf_counter()
            subprocess.run(wine + ['wine', os.path.join(work, name)], **quiet)
            taken.append(time.perf_counter() - start)
finally:
    subprocess.run(['bash', os.path.join(here, 'windows', 'wine-stop.sh')], **quiet)
    shutil.rmtree(work, ignore_errors=True)

kestrel, empty = (statistics.median(t) for t in times.values())
print(f'median of {runs} headless runs under Wine: Kestrel {kestrel * 1000:.0f} ms, '
      f'empty program {empty * 1000:.0f} ms, ratio {kestrel / empty:.2f}')
