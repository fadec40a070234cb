"""Runs the real Kestrel.exe under Wine on the shared Xvfb screen and answers
its message boxes as a user would, with xdotool."""
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

from wine_session import OVERRIDES

STATE_DIR = os.environ['KESTREL_E2E_STATE']
EXE = os.environ['KESTREL_EXE']
DOUBLES = os.environ.get('KESTREL_DOUBLES', '')
with open(os.path.join(STATE_DIR, 'state.json')) as _f:
    STATE = json.load(_f)

PROMPT_CAPTION = 'Kestrel by Tamsworth - Norvale Software'
ERROR_CAPTION = 'Error'
SCREEN_WIDTH, SCREEN_HEIGHT = STATE['screen']
COMPUTER_NAME = socket.gethostname().split('.')[0].upper()[:15]


def wine_env(**extra):
    env = dict(os.environ)
    env.update(DISPLAY=f":{STATE['display']}", WINEPREFIX=STATE['prefix'], WINEDEBUG='-all',
               WINEDLLOVERRIDES=OVERRIDES + ';systeminfo.exe=n', USER='kestrel', LC_ALL='C.UTF-8')
    env.update(extra)
    return env


def windows_path(linux_path):
    """The path as Wine shows it: Linux / is drive Z:."""
    return 'Z:' + linux_path.replace('/', '\\')


def copy_kestrel(folder):
    shutil.copy(EXE, os.path.join(folder, 'Kestrel.exe'))


def new_folder(name='kestrel e2e'):
    """A fresh folder holding a copy of Kestrel.exe."""
    folder = os.path.join(tempfile.mkdtemp(prefix='kestrel-'), name)
    os.makedirs(folder)
    copy_kestrel(folder)
    return folder


def xdotool(*args):
    return subprocess.run(['xdotool', *args], env=wine_env(), capture_output=True, text=True).stdout.split()


def visible_windows(name):
    return xdotool('search', '--onlyvisible', '--name', name)


@dataclass
class Box:
    caption: str
    shown_at: float  # seconds since the start of the run
    answered_at: float = 0.0


@dataclass
class Run:
    returncode: int
    trace: str
    boxes: list = field(default_factory=list)
    started_at: float = 0.0

    def box_texts(self):
        """Texts of the message boxes, from the msgbox debug channel."""
        return [decode_trace_text(t) for t in re.findall(r'MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', self.trace)]


def trace_text(text):
    """text as Wine's debug channels quote it."""
    return ''.join({'\\': '\\\\', '"': '\\"', '\n': '\\n', '\r': '\\r'}.get(c, c) if ord(c) < 0x80
                   else f'\\{ord(c):04x}' for c in text)


def trace_lines(trace, marker):
    """The lines of a trace that hold marker."""
    return [line.split(':', 3)[-1] for line in trace.splitlines() if marker in line]


def decode_trace_text(text):
    return re.sub(r'\\(n|r|t|"|\\)', lambda m: {'n': '\n', 'r': '\r', 't': '\t'}.get(m.group(1), m.group(1)), text)


def press(window, answer):
    """answer: 'OK' or 'Cancel' clicks that button; anything else is keys."""
    if answer in ('OK', 'Cancel'):
        # The two buttons sit centred at the foot of the box.
        geometry = window_geometry(window)
        x = geometry['WIDTH'] // 2 + (-42 if answer == 'OK' else 46)
        xdotool('mousemove', '--window', window, str(x), str(geometry['HEIGHT'] - 21), 'click', '1')
        return
    # Xvfb has no window manager: a click on the box's margin gives it the keyboard.
    xdotool('mousemove', '--window', window, '6', '6', 'click', '1')
    time.sleep(0.2)
    xdotool('key', *answer.split())


def window_geometry(window):
    out = subprocess.run(['xdotool', 'getwindowgeometry', '--shell', window], env=wine_env(),
                         capture_output=True, text=True).stdout.split()
    return {key: int(value) for key, value in (line.split('=') for line in out)}


def run_kestrel(folder, answers=((PROMPT_CAPTION, 'Escape'),), debug='-all', box_timeout=20, cwd=None,
                env=None, exe=None, on_box=None):
    """Starts Kestrel.exe in folder and answers each (caption, key) box in turn.
    A box that does not appear before the program ends is simply not answered.
    on_box(window, box) is called while each box is shown, before the answer."""
    trace_path = os.path.join(tempfile.mkdtemp(prefix='kestrel-trace-'), 'trace.txt')
    run = Run(returncode=-1, trace='')
    with open(trace_path, 'wb') as trace:
        run.started_at = time.monotonic()
        process = subprocess.Popen(['wine', exe or os.path.join(folder, 'Kestrel.exe')],
                                   env=wine_env(WINEDEBUG=debug, **(env or {})), cwd=cwd or folder,
                                   stdin=subprocess.DEVNULL, stdout=trace, stderr=trace)
        try:
            for caption, key in answers:
                window = wait_for_window(f'^{re.escape(caption)}$', process, box_timeout)
                if window is None:
                    break
                box = Box(caption, time.monotonic() - run.started_at)
                run.boxes.append(box)
                if on_box is not None:
                    on_box(window, box)
                box.answered_at = answer(window, key) - run.started_at
            run.returncode = process.wait(timeout=60)
        finally:
            if process.poll() is None:
                # A run that went wrong must not leave its box for the next test.
                subprocess.run(['pkill', '-f', 'Kestrel.exe'], check=False)
                process.wait(timeout=30)
    with open(trace_path, encoding='utf-8', errors='replace') as f:
        run.trace = f.read()
    return run


def wait_for_window(name, process, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = visible_windows(name)
        if found:
            return found[0]
        if process is not None and process.poll() is not None:
            return None
        time.sleep(0.1)
    return None


def answer(window, key, attempts=3):
    """Presses until the box is gone and returns when the press that closed it
    was made. A box that has just appeared may miss the first click or key;
    every answer used here is safe to repeat while the box is still there."""
    time.sleep(0.3)
    for _ in range(attempts):
        pressed_at = time.monotonic()
        press(window, key)
        while time.monotonic() < pressed_at + 3:
            if window not in xdotool('search', '--onlyvisible', '--name', '.'):
                return pressed_at
            time.sleep(0.1)
    subprocess.run(['import', '-window', 'root', os.path.join(STATE_DIR, 'stayed-open.png')], env=wine_env())
    raise AssertionError(f'window {window} stayed open; the screen is in stayed-open.png')


def screenshot(window, path):
    """The window as the user sees it, saved as PNG."""
    geometry = window_geometry(window)
    crop = f"{geometry['WIDTH']}x{geometry['HEIGHT']}+{geometry['X']}+{geometry['Y']}"
    subprocess.run(['import', '-window', 'root', '-crop', crop, '+repage', path], env=wine_env(), check=True)


def read_bytes(path):
    with open(path, 'rb') as f:
        return f.read()
