"""Runs the shipped 32-bit Kestrel.exe under Wine 10 in its WoW64 mode, as
64-bit Windows runs it, on an Xvfb screen, and answers its boxes with xdotool.

    kestrel.py start|stop STATE_DIR

start makes what the tests share (the screen, one Wine prefix with a 32-bit
systeminfo double, a persistent wineserver); stop removes it all. The Windows
seen there has been up for 60 days more than this host, past the 49.7 days
after which a 32-bit tick count wraps.
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
UPTIME_SHIFT = 60 * 86400
# Every Wine process, wineserver included, sees the same shifted clocks.
WINE = ['unshare', '--time', f'--boottime={UPTIME_SHIFT}', f'--monotonic={UPTIME_SHIFT}',
        'bash', os.path.join(HERE, '..', '..', 'scripts', 'wine.sh')]
# No Mono or Gecko: their install prompts would block an unattended boot.
OVERRIDES = 'mscoree,mshtml='
SCREEN = (1366, 768)
PROMPT = 'Kestrel by Tamsworth - Norvale Software'
ERROR = 'Error'
COMPUTER_NAME = socket.gethostname().split('.')[0].upper()[:15]
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

STATE_DIR = os.environ.get('KESTREL_E2E_STATE', '')
DOUBLES = os.environ.get('KESTREL_DOUBLES', '')
STATE = {}
if os.path.exists(os.path.join(STATE_DIR, 'state.json')):
    with open(os.path.join(STATE_DIR, 'state.json')) as _f:
        STATE = json.load(_f)


def syswow64():
    """The 32-bit system directory, where a 32-bit cmd.exe finds systeminfo."""
    return os.path.join(STATE['prefix'], 'drive_c', 'windows', 'syswow64')


def wine_env(**extra):
    env = dict(os.environ, DISPLAY=f":{STATE.get('display')}", WINEPREFIX=STATE.get('prefix', ''),
               WINEDEBUG='-all', WINEDLLOVERRIDES=OVERRIDES + ';systeminfo.exe=n', USER='kestrel',
               LC_ALL='C.UTF-8')
    env.update(extra)
    return env


def start(state_dir):
    stop(state_dir)
    os.makedirs(state_dir, exist_ok=True)
    display = next(n for n in range(91, 200) if not os.path.exists(f'/tmp/.X11-unix/X{n}')
                   and not os.path.exists(f'/tmp/.X{n}-lock'))
    xvfb = subprocess.Popen(['Xvfb', f':{display}', '-screen', '0', f'{SCREEN[0]}x{SCREEN[1]}x24',
                             '-nolisten', 'tcp'], start_new_session=True, **QUIET)
    # Under /var/tmp, which the Wine root shares: a prefix is 1.4 GB, too much for a RAM /tmp.
    prefix = tempfile.mkdtemp(prefix='kestrel-prefix-', dir='/var/tmp')
    STATE.update(display=display, xvfb_pid=xvfb.pid, prefix=prefix)
    with open(os.path.join(state_dir, 'state.json'), 'w') as f:
        json.dump(STATE, f)
    while not os.path.exists(f'/tmp/.X11-unix/X{display}'):
        time.sleep(0.1)
    env = wine_env(WINEDLLOVERRIDES=OVERRIDES)
    with open(os.path.join(state_dir, 'wineboot.log'), 'wb') as log:
        for command in (['wine', 'wineboot', '-i'],
                        # Text files open in Notepad, as on Windows; a fresh prefix lacks the link.
                        ['wine', 'reg', 'add', 'HKCR\\.txt', '/ve', '/d', 'txtfile', '/f'],
                        ['wineserver', '-w']):
            subprocess.run(WINE + command, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                           check=True, timeout=300)
    shutil.copy(os.path.join(DOUBLES, 'SystemInfoDouble.exe'), os.path.join(syswow64(), 'systeminfo.exe'))
    shutil.copy(os.path.join(DOUBLES, 'Launcher.exe'), os.path.join(STATE['prefix'], 'drive_c'))
    start_wineserver()


def start_wineserver():
    """(Re)starts the persistent wineserver. It sees the mounts made before it
    started only, as it lives in a mount namespace of its own."""
    env = wine_env()
    subprocess.run(WINE + ['wineserver', '-k'], env=env, timeout=60, **QUIET)
    subprocess.run(WINE + ['wineserver', '-p'], env=env, timeout=60, **QUIET)
    # Wine's own services start with the first program: let that not be a test's.
    subprocess.run(WINE + ['wine', 'cmd', '/c', 'exit'], env=env, timeout=120, **QUIET)


def stop(state_dir):
    path = os.path.join(state_dir, 'state.json')
    if not os.path.exists(path):
        return
    with open(path) as f:
        state = json.load(f)
    subprocess.run(WINE + ['wineserver', '-k'], env=dict(os.environ, WINEPREFIX=state['prefix']), timeout=60,
                   **QUIET)
    try:
        os.kill(state['xvfb_pid'], 15)
    except ProcessLookupError:
        pass
    shutil.rmtree(state['prefix'], ignore_errors=True)
    os.remove(path)


def windows_path(linux_path):
    """The path as Wine shows it: Linux / is drive Z:."""
    return 'Z:' + linux_path.replace('/', '\\')


def new_folder(name='kestrel e2e', base=None):
    """A fresh folder holding a copy of the shipped Kestrel.exe."""
    folder = os.path.join(base or tempfile.mkdtemp(prefix='kestrel-'), name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(os.environ['KESTREL_EXE'], os.path.join(folder, 'Kestrel.exe'))
    return folder


def read_bytes(path):
    with open(path, 'rb') as f:
        return f.read()


def trace_text(text):
    """text as Wine's debug channels quote it."""
    return ''.join({'\\': '\\\\', '"': '\\"', '\n': '\\n'}.get(c, c) if ord(c) < 0x80 else f'\\{ord(c):04x}'
                   for c in text)


def trace_lines(trace, marker):
    """What follows the channel name on each line of a trace that holds marker."""
    return [line.split(':', 3)[-1] for line in trace.splitlines() if marker in line]


@dataclass
class Run:
    returncode: int = -1
    trace: str = ''
    boxes: list = field(default_factory=list)  # (caption, seconds from start shown, answered)

    def box_texts(self):
        """The message boxes' texts, from the msgbox channel."""
        return [re.sub(r'\\(.)', lambda m: '\n' if m.group(1) == 'n' else m.group(1), text)
                for text in re.findall(r'MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', self.trace)]


def xdotool(*args):
    return subprocess.run(['xdotool', *args], env=wine_env(), capture_output=True, text=True).stdout.split()


def find_window(name, process=None, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and (process is None or process.poll() is None):
        found = xdotool('search', '--onlyvisible', '--name', name)
        if found:
            return found[0]
        time.sleep(0.1)
    return None


def press(window, answer):
    """'OK' or 'Cancel' clicks that button; anything else is keys."""
    if answer in ('OK', 'Cancel'):
        # The two buttons sit centred at the foot of the box.
        size = dict(line.split('=') for line in xdotool('getwindowgeometry', '--shell', window))
        x = int(size['WIDTH']) // 2 + (-42 if answer == 'OK' else 46)
        xdotool('mousemove', '--window', window, str(x), str(int(size['HEIGHT']) - 21), 'click', '1')
    else:
        # Xvfb has no window manager: a click on the box's margin gives it the keyboard.
        xdotool('mousemove', '--window', window, '6', '6', 'click', '1')
        time.sleep(0.2)
        xdotool('key', *answer.split())


def screenshot(window, path):
    subprocess.run(['import', '-window', window, path], env=wine_env(), check=True)


def answer(window, key):
    """Presses until the box is gone; returns when the press that closed it was
    made. A box just shown may miss a press, and every answer here is safe to repeat."""
    time.sleep(0.3)
    for _ in range(3):
        pressed_at = time.monotonic()
        press(window, key)
        while time.monotonic() < pressed_at + 3:
            if window not in xdotool('search', '--onlyvisible', '--name', '.'):
                return pressed_at
            time.sleep(0.1)
    screenshot('root', os.path.join(STATE_DIR, 'stayed-open.png'))
    raise AssertionError(f'box {window} stayed open; the screen is in stayed-open.png')


def run_kestrel(folder, answers=((PROMPT, 'Escape'),), debug='-all', exe=None, cwd=None, env=None,
                on_box=None, box_timeout=20):
    """Runs Kestrel.exe in folder and answers each (caption, answer) box in turn;
    a box not shown before the program ends is not answered. on_box(window) is
    called while each box is shown, before it is answered."""
    run = Run()
    with tempfile.TemporaryFile() as trace:
        started = time.monotonic()
        program = [exe or windows_path(os.path.join(folder, 'Kestrel.exe'))]
        if len(program[0]) >= 260:  # a path too long for Wine's own launcher
            program.insert(0, 'C:\\Launcher.exe')
        process = subprocess.Popen(WINE + ['wine'] + program,
                                   env=wine_env(WINEDEBUG=debug, **(env or {})), cwd=cwd or folder,
                                   stdin=subprocess.DEVNULL, stdout=trace, stderr=trace)
        try:
            for caption, key in answers:
                window = find_window(f'^{re.escape(caption)}$', process, box_timeout)
                if window is None:
                    break
                shown = time.monotonic() - started
                if on_box:
                    on_box(window)
                run.boxes.append((caption, shown, answer(window, key) - started))
            run.returncode = process.wait(timeout=60)
        finally:
            if process.poll() is None:
                # A run gone wrong must not leave its box to the next test.
                subprocess.run(['pkill', '-f', 'Kestrel.exe'])
                process.wait(timeout=30)
        trace.seek(0)
        run.trace = trace.read().decode('utf-8', errors='replace')
    return run


if __name__ == '__main__':
    {'start': start, 'stop': stop}[sys.argv[1]](sys.argv[2])
