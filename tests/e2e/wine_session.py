#!/usr/bin/env python3
"""Starts and stops what the end-to-end tests share: an Xvfb screen, a fresh
Wine prefix and its persistent wineserver.

    wine_session.py start STATE_DIR [DOUBLES_DIR]
    wine_session.py stop STATE_DIR

Everything started here is detached from our standard streams, or CTest
would wait for it to close them.
"""
import json
import os
import shutil
import subprocess
import sys
import time

SCREEN = (1366, 768)
# No Mono or Gecko: their install prompts would block an unattended boot.
OVERRIDES = 'mscoree,mshtml='


def detached(args, env=None):
    return subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)


def start_display():
    for number in range(91, 160):
        if os.path.exists(f'/tmp/.X{number}-lock') or os.path.exists(f'/tmp/.X11-unix/X{number}'):
            continue
        server = detached(['Xvfb', f':{number}', '-screen', '0', f'{SCREEN[0]}x{SCREEN[1]}x24', '-nolisten', 'tcp'])
        for _ in range(100):
            if os.path.exists(f'/tmp/.X11-unix/X{number}'):
                return number, server.pid
            if server.poll() is not None:
                break
            time.sleep(0.1)
    sys.exit('no X display could be started')


def start(state_dir, doubles_dir):
    stop(state_dir)
    os.makedirs(state_dir, exist_ok=True)
    display, xvfb_pid = start_display()
    prefix = os.path.join(state_dir, 'prefix')
    env = dict(os.environ, DISPLAY=f':{display}', WINEPREFIX=prefix, WINEDEBUG='-all',
               WINEDLLOVERRIDES=OVERRIDES)
    with open(os.path.join(state_dir, 'wineboot.log'), 'wb') as log:
        subprocess.run(['wine', 'wineboot', '-i'], env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                       check=True, timeout=300)
        # As on every Windows: text files open in Notepad. A fresh Wine prefix
        # has the txtfile class but does not map .txt to it.
        subprocess.run(['wine', 'reg', 'add', 'HKCR\\.txt', '/ve', '/d', 'txtfile', '/f'], env=env,
                       stdin=subprocess.DEVNULL, stdout=log, stderr=log, check=True, timeout=120)
        subprocess.run(['wineserver', '-w'], env=env, stdout=log, stderr=log, timeout=120)
    system32 = os.path.join(prefix, 'drive_c', 'windows', 'system32')
    if doubles_dir:
        # Wine's own systeminfo prints nothing; the double prints known lines.
        shutil.copy(os.path.join(doubles_dir, 'SystemInfoDouble.exe'), os.path.join(system32, 'systeminfo.exe'))
    detached(['wineserver', '-p'], env=env)
    with open(os.path.join(state_dir, 'state.json'), 'w') as f:
        json.dump({'display': display, 'xvfb_pid': xvfb_pid, 'prefix': prefix, 'screen': SCREEN}, f)


def stop(state_dir):
    path = os.path.join(state_dir, 'state.json')
    if not os.path.exists(path):
        return
    with open(path) as f:
        state = json.load(f)
    env = dict(os.environ, WINEPREFIX=state['prefix'])
    subprocess.run(['wineserver', '-k'], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    try:
        os.kill(state['xvfb_pid'], 15)
    except ProcessLookupError:
        pass
    os.remove(path)
    shutil.rmtree(state['prefix'], ignore_errors=True)


if __name__ == '__main__':
    if sys.argv[1] == 'start':
        start(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    else:
        stop(sys.argv[2])
