#!/usr/bin/env python3
"""What the README's test command costs, measured (not a test).

Runs `bash scripts/test.sh` once, so that its caches are made, and then RUNS
more times, and prints the median and the range of those later runs' wall
times and the median time of each ctest case. --vm takes the virtual machine's
way (KESTREL_VM=1) on any host. A run that fails stops the benchmark.

    python3 scripts/benchmark-tests.py [--runs N] [--vm] [--no-first]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CASE = re.compile(r'Test +#\d+: (\S+) \.+\s+Passed +([\d.]+) sec')


def run(env):
    """One test.sh: its wall time in seconds and each case's time."""
    start = time.monotonic()
    done = subprocess.run(['bash', os.path.join(HERE, 'test.sh')], env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    taken = time.monotonic() - start
    if done.returncode:
        sys.exit(f'test.sh failed (exit {done.returncode}); its output ended:\n' +
                 '\n'.join(done.stdout.splitlines()[-30:]))
    return taken, {name: float(seconds) for name, seconds in CASE.findall(done.stdout)}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--vm', action='store_true', help='the virtual machine\'s way, on any host')
    parser.add_argument('--no-first', action='store_true', help='the caches are made: no first run')
    args = parser.parse_args()
    env = dict(os.environ, KESTREL_VM='1') if args.vm else dict(os.environ)
    if not args.no_first:
        taken, _ = run(env)
        print(f'first run: {taken:.0f} s', flush=True)
    walls, cases = [], {}
    for n in range(1, args.runs + 1):
        taken, times = run(env)
        walls.append(taken)
        for name, seconds in times.items():
            cases.setdefault(name, []).append(seconds)
        print(f'later run {n}: {taken:.0f} s', flush=True)
    print(f'{"vm" if args.vm else "the route this host takes"}: {len(walls)} later runs, median {statistics.median(walls):.0f} s,'
          f' range {min(walls):.0f} to {max(walls):.0f} s')
    for name, times in cases.items():
        print(f'  {statistics.median(times):7.1f} s  {name}')


if __name__ == '__main__':
    main()
