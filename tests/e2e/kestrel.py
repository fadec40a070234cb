"""Runs the shipped 32-bit Kestrel.exe under Wine 10's WoW64 on Xvfb desks set up as users'
desktops are, answering its boxes; all in the virtual machine where this kernel runs no 32-bit
code, or with KESTREL_VM=1. docs/testing.md tells what a run owns and ends. KESTREL_DESK: 1 or 2.

    kestrel.py start [DESK...] | test MODULE... | stop
"""
import datetime
import functools
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path
from types import SimpleNamespace

UPTIME_SHIFT = 60 * 86400
HOST_NAME, COMPUTER_NAME = 'support-desk-0042', 'SUPPORT-DESK-00'
ZONE, UTC_OFFSET = 'Asia/Kathmandu', datetime.timezone(datetime.timedelta(hours=5, minutes=45))
SCREEN = (1366, 768)
WORK_AREA = (48, 32, 1318, 732)  # left, top, right, bottom: all different, none a screen edge
HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.join(HERE, '..', '..', 'scripts', 'windows')
OVERRIDES = 'mscoree,mshtml='  # no Mono or Gecko: their prompts would block the boot
PROMPT, ERROR = 'Kestrel by Tamsworth - Norvale Software', 'Error'
# The windows a run shows beside its boxes: the viewer's, and the console of the command interpreter.
BESIDE_BOXES = r'SInfo\.txt|^C:\\windows\\system32\\cmd\.exe( - .*)?$'
ESCAPE, OK_OK = ((PROMPT, 'Escape'),), ((PROMPT, 'OK'), (PROMPT, 'OK'))
# What the systeminfo double in the 32-bit system directory prints (a planted copy names its own).
DOUBLE_OUTPUT = (b'Host Name:                 KESTREL-DOUBLE\r\n'
                 b'Run From:                  C:\\windows\\syswow64\\systeminfo.exe\r\n')
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
# Under /var/tmp, which the Wine root shares, and on disk: a prefix takes 1.4 GB.
STATE, DOUBLES = os.environ.get('KESTREL_E2E_STATE', ''), os.environ.get('KESTREL_DOUBLES', '')
DESK_NUMBER = os.environ.get('KESTREL_DESK', '1')
DESK = f'{STATE}/desk-{DESK_NUMBER}'
PREFIX, WORK, SCREEN_FILE = f'{DESK}/prefix', f'{STATE}/work', f'{DESK}/screen'
HOLDER = f'{STATE}/holder'  # the pid of the process that holds the namespaces
USER_NAMESPACE = ['--user', '--map-root-user'] if os.getuid() else []
VM = STATE + '.vm'  # the virtual machine's folder, while one runs the tests
SYSWOW64 = f'{PREFIX}/drive_c/windows/syswow64'  # where a 32-bit cmd.exe finds systeminfo


def screen(desk=DESK):
    """The display number and the X server's pid of desk, once it has one."""
    return Path(f'{desk}/screen').read_text().split() if os.path.exists(f'{desk}/screen') else ['', '']


def wine_env(**extra):
    return dict(os.environ, DISPLAY=f':{screen()[0]}', WINEPREFIX=PREFIX, WINEDEBUG='-all', USER='kestrel',
                WINEDLLOVERRIDES=OVERRIDES + ';systeminfo.exe=n', LC_ALL='C.UTF-8', TZ=ZONE) | extra


def holder():
    """The pid of the process that holds the run's namespaces, while it lives."""
    try:
        pid = int(Path(HOLDER).read_text())
        os.kill(pid, 0)
        return pid
    except (OSError, ValueError):
        return None


def hold():
    """Starts the process that holds the namespaces: a host name, clocks 60 days on, mounts to come."""
    os.makedirs(STATE)
    # Not ctest's output: it waits for everyone who holds that.
    with open(f'{HOLDER}.log', 'w') as log:
        unshare = subprocess.Popen(['unshare', *USER_NAMESPACE, '--mount', '--uts', '--time', '--fork',
                                    f'--boottime={UPTIME_SHIFT}', f'--monotonic={UPTIME_SHIFT}', 'sh', '-c',
                                    f'hostname {HOST_NAME} && echo $$ >{HOLDER}.new && mv {HOLDER}.new {HOLDER} && '
                                    'exec sleep infinity'], start_new_session=True, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=log)
    while not holder():
        if unshare.poll() is not None:
            raise SystemExit('could not make the namespaces: ' + Path(f'{HOLDER}.log').read_text())
        time.sleep(0.05)


def enter(action, *args):
    """Goes on with action inside the namespaces, as this same process."""
    user = ['--user', '--preserve-credentials'] if USER_NAMESPACE else []
    os.execvpe('nsenter', ['nsenter', f'--target={holder()}', *user, '--mount', '--uts', f'--wd={HERE}',
                           sys.executable, os.path.abspath(__file__), action, *args],
               dict(os.environ, KESTREL_INSIDE=str(holder())))


def wine(*command):
    """command in the Wine root, under the clocks of the namespaces."""
    return ['nsenter', f'--target={holder()}', '--time', 'bash', f'{SCRIPTS}/wine.sh', *command]


def setup(*desks):
    # Wine's servers see only what was mounted before they started.
    for name, size in (('full', '512k'), ('read-only', '1m')):
        os.makedirs(f'{WORK}/{name}')
        subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={size}', 'tmpfs', f'{WORK}/{name}'], check=True)
        new_folder(name, WORK)
    subprocess.run(['dd', 'if=/dev/zero', f'of={WORK}/full/fill', 'bs=4k'], **QUIET)
    subprocess.run(['mount', '-o', 'remount,ro,bind', f'{WORK}/read-only'], check=True)
    others = [subprocess.Popen([sys.executable, __file__, 'desk'], env=dict(os.environ, KESTREL_DESK=desk))
              for desk in desks if desk != DESK_NUMBER]
    set_up_desk()
    if any(other.wait() for other in others):
        raise SystemExit('could not set up every desk')


def set_up_desk():
    os.makedirs(DESK)
    # A free display of its own; kept as it is when a client leaves (-noreset),
    # so that the task bars' work area stays.
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', '1', '-screen', '0', '%dx%dx24' % SCREEN, '-nolisten', 'tcp',
                             '-noreset'], start_new_session=True, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    Path(SCREEN_FILE).write_text(f'{int(xvfb.stdout.readline())} {xvfb.pid}')
    # What a window manager sets for its bars: x, y, width and height.
    left, top, right, bottom = WORK_AREA
    subprocess.run(['xprop', '-root', '-f', '_NET_WORKAREA', '32c', '-set', '_NET_WORKAREA',
                    f'{left},{top},{right - left},{bottom - top}'], env=wine_env(), check=True)
    # The virtual machine's, booted with these settings when it was made: one for each desk.
    booted = f'{os.environ.get("KESTREL_BOOTED_PREFIXES")}/{DESK_NUMBER}'
    if os.path.isdir(booted):
        os.rename(booted, PREFIX)
        commands = []
    else:
        shutil.copy(f'{HERE}/desk.reg', DESK)  # where Wine's root sees it
        commands = [['wine', 'wineboot', '-i'], ['wine', 'reg', 'import', windows_path(f'{DESK}/desk.reg')],
                    ['wineserver', '-w']]
    with open(f'{DESK}/wineboot.log', 'wb') as log:
        for command in commands:
            subprocess.run(wine(*command), env=wine_env(), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                           check=True, timeout=300)
    # Replaced, not written into: in the virtual machine it is a link to Wine's own, which the other desk shares.
    os.remove(f'{SYSWOW64}/systeminfo.exe')
    shutil.copy(f'{DOUBLES}/SystemInfoDouble.exe', f'{SYSWOW64}/systeminfo.exe')
    shutil.copy(f'{DOUBLES}/Launcher.exe', f'{PREFIX}/drive_c')
    start_services()


def start_services():
    """Wine's services start with the first program: let that not be a test's."""
    for command in (['wineserver', '-p'], ['wine', 'cmd', '/c', 'exit']):
        subprocess.run(wine(*command), env=wine_env(), timeout=120, **QUIET)


def end_programs(restart=True):
    """Ends the programs of this run's prefix, and only those; then its services, unless no case follows."""
    subprocess.run(wine('wineserver', '-k'), env=wine_env(), timeout=60, **QUIET)
    if restart:
        start_services()


def close_viewer():
    """Ends the viewer of the report by its process id; where none shows, every program of the prefix."""
    window = find_window('SInfo\\.txt')
    pid = xdotool('getwindowpid', window) if window else []
    if pid:
        subprocess.run(['kill', pid[0]], check=True)
    else:
        end_programs()


def stop():
    """From outside the namespaces, which go with the last of their processes, and their mounts with them."""
    pids = [holder()]
    for desk in glob.glob(f'{STATE}/desk-*'):
        if os.path.exists(f'{desk}/prefix'):
            subprocess.run(['bash', f'{SCRIPTS}/wine-stop.sh'], env=dict(os.environ, WINEPREFIX=f'{desk}/prefix'),
                           timeout=60, **QUIET)
        pids.append(screen(desk)[1])
    subprocess.run(['kill', *(str(pid) for pid in pids if pid)], **QUIET)
    shutil.rmtree(STATE, ignore_errors=True)


def set_log_pixels(dpi):
    """Scales the display (96 is 100 %) for the prefix's next server, as a running one keeps
    its scale: written into the registry file while none runs, sparing a program under emulation."""
    end_programs(restart=False)
    subprocess.run(wine('wineserver', '-w'), env=wine_env(), timeout=60, **QUIET)
    registry = Path(PREFIX, 'user.reg')
    # The key's lines run from its header to the next blank line; a new prefix lacks the value.
    text, found = re.subn(rb'(\n\[Control Panel\\\\Desktop\] \d+\n(?:#.*\n)*)((?:[^\n[].*\n)*)',
                          lambda key: key[1] + b'"LogPixels"=dword:%08x\n' % dpi +
                          re.sub(rb'"LogPixels"=.*\n', b'', key[2]), registry.read_bytes())
    if found != 1:
        raise AssertionError(f'{registry} has no key Control Panel\\Desktop')
    registry.write_bytes(text)
    start_services()


def windows_path(linux_path):
    """The path as Wine shows it: Linux / is drive Z:."""
    return 'Z:' + linux_path.replace('/', '\\')


def new_folder(name='kestrel e2e', base=None, program='Kestrel.exe'):
    """A fresh folder holding a copy of the shipped exe, named program."""
    folder = os.path.join(base or tempfile.mkdtemp(dir=WORK), name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(os.environ['KESTREL_EXE'], os.path.join(folder, program))
    return folder


def report(folder):
    return Path(folder, 'SInfo.txt').read_bytes()


def location_lines(folder, directory):
    """The report's lines that name it and the program, and what they should be for directory."""
    return report(folder).split(b'\r\n')[4:7], [b'This File is %sSInfo.txt' % directory, b'Program: Kestrel.exe',
                                                 b'Program Location: ' + directory]


def trace_text(text):
    """text as Wine's debug channels quote it."""
    return ''.join({'\\': '\\\\', '"': '\\"', '\n': '\\n'}.get(c, c) if ord(c) < 0x80 else f'\\{ord(c):04x}'
                   for c in text)


def trace_lines(trace, marker):
    """What follows the channel name on each line of a trace that holds marker."""
    return [line.split(':', 3)[-1] for line in trace.splitlines() if marker in line]


# What Wine's relay channel prints of a call, with its argument words and its return address.
RELAY_CALL = re.compile(r'^(\w+):Call \w+\.(\w+)\(((?:[^"]|"(?:[^"\\]|\\.)*")*)\) ret=([0-9a-f]+)$')
RELAY_RETURN = re.compile(r'^(\w+):Ret  \w+\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$')


def own_calls(trace, exe):
    """The thread of the exe's first call that the relay channel shows, and that thread's calls
    from the exe's own code, in order: [name, argument words, result or None]; a text, its pointer."""
    import pefile  # here: under emulation every case would pay for its import
    pe = pefile.PE(exe, fast_load=True)
    start = pe.OPTIONAL_HEADER.ImageBase
    own = range(start, start + pe.OPTIONAL_HEADER.SizeOfImage)
    calls, thread = [], None
    for line in trace.splitlines():
        if (call := RELAY_CALL.match(line)) and int(call[4], 16) in own and thread in (None, call[1]):
            thread = call[1]
            words = [int(word.split()[0], 16) for word in re.sub(r'L?"(?:[^"\\]|\\.)*"(\.\.\.)?', '', call[3])
                     .split(',') if word]
            calls.append([call[2], words, None])
        elif (result := RELAY_RETURN.match(line)) and int(result[4], 16) in own and result[1] == thread:
            calls[-1][2] = int(result[3], 16)
    return thread, calls


def box_texts(trace):
    """The message boxes' texts, from the msgbox channel."""
    return [re.sub(r'\\(.)', lambda m: '\n' if m.group(1) == 'n' else m.group(1), text)
            for text in re.findall(r'MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', trace)]


def started(run, marker):
    """The processes that the run started whose trace line holds marker."""
    return [line for line in trace_lines(run.trace, 'CreateProcessInternalW app ') if marker in line]


def xdotool(*args):
    return subprocess.run(['xdotool', *args], env=wine_env(), capture_output=True, text=True).stdout.split()


@functools.cache
def x_screen():
    # Only the tests need it: under emulation it takes half a second to import.
    import Xlib.display
    return Xlib.display.Display(f':{screen()[0]}')


def shown_windows():
    """The shown windows' names by id (as xdotool gives it), over one connection, not ten xdotools a second."""
    from Xlib import X, error
    names, display = {}, x_screen()
    for window in display.screen().root.query_tree().children:
        try:  # it may be gone by now
            if window.get_attributes().map_state == X.IsViewable:
                names[str(window.id)] = (window.get_full_text_property(display.get_atom('_NET_WM_NAME'))
                                         or window.get_wm_name() or '')
        except error.XError:
            pass
    return names


def find_window(name, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if found := [window for window, title in shown_windows().items() if re.search(name, title)]:
            return found[0]
        time.sleep(0.05)


def answer(window, key):
    """'OK' or 'Cancel' clicks that button, anything else is keys, until the box is gone:
    a box just shown may miss a press, and every answer here is safe to repeat."""
    time.sleep(0.3)
    for _ in range(3):
        if key in ('OK', 'Cancel'):  # the two buttons sit centred at the foot of the box
            size = dict(line.split('=') for line in xdotool('getwindowgeometry', '--shell', window))
            x = int(size['WIDTH']) // 2 + (-42 if key == 'OK' else 46)
            xdotool('mousemove', '--window', window, str(x), str(int(size['HEIGHT']) - 21), 'click', '1')
        else:  # Xvfb has no window manager: a click on the box's margin gives it the keyboard
            xdotool('mousemove', '--window', window, '6', '6', 'click', '1', 'sleep', '0.2', 'key', key)
        for _ in range(30):
            if window not in shown_windows():
                return
            time.sleep(0.05)
    went_wrong(f'box {window} stayed open')


def went_wrong(what):
    """Fails the case in one line, with the screen saved."""
    shot = f'{STATE}-went-wrong.png'
    if shutil.which('import'):
        subprocess.run(['import', '-window', 'root', shot], env=wine_env())
    raise AssertionError(f'{what}; the screen is in {shot}')


def new_window(process, seen, timeout):
    """The first window that is shown while process runs, within timeout, and that neither
    seen (id: title) holds nor is one the run may show beside its boxes: (id, title), or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        for window, title in shown_windows().items():
            if seen.get(window) != title and not re.search(BESIDE_BOXES, title):
                return window, title
        time.sleep(0.05)
    return None


def run_kestrel(folder, answers=ESCAPE, debug='-all', exe=None, env=None, cwd=None):
    """Runs Kestrel.exe in folder, or the Windows path exe, from folder or cwd, and answers each
    (caption, answer) box in turn. Each desk is a screen of its own, so any other window that
    shows meanwhile is the run's: it fails at once, naming that window, as does a program that
    ends before a box: a mistaken box, or a crash dialog, must not wait out every timeout."""
    run = SimpleNamespace(returncode=None)
    program = [exe or windows_path(os.path.join(folder, 'Kestrel.exe'))]
    if len(program[0]) >= 260:  # a path too long for Wine's own launcher
        program.insert(0, 'C:\\Launcher.exe')
    seen = shown_windows()  # the desk's own, before the run
    with tempfile.TemporaryFile() as trace:
        # The msgbox channel names an unexpected box's text.
        process = subprocess.Popen(wine('wine', *program), cwd=cwd or folder,
                                   env=wine_env(WINEDEBUG=f'{debug},trace+msgbox', **(env or {})),
                                   stdin=subprocess.DEVNULL, stdout=trace, stderr=trace)

        def shown(title):
            trace.seek(0)
            texts = box_texts(trace.read().decode('utf-8', errors='replace'))
            return f'"{title}" ({texts[-1] if texts else "no box text traced"!r})'
        try:
            for caption, key in answers:
                if not (window := new_window(process, seen, timeout=75)):
                    went_wrong(f'no box "{caption}" in 75 s' if process.poll() is None else
                               f'the program ended (exit code {process.poll()}) where the box "{caption}" was expected')
                if window[1] != caption:
                    went_wrong(f'the window {shown(window[1])} was shown where the box "{caption}" was expected')
                answer(window[0], key)
            # Slow machines need the whole minute; a window meanwhile is one too many.
            if window := new_window(process, seen, timeout=60):
                went_wrong(f'the window {shown(window[1])} was shown after the boxes expected')
            run.returncode = process.wait(timeout=1)
        finally:
            if process.poll() is None:  # a run gone wrong must not leave its box to the next test
                end_programs()
                process.wait(timeout=30)
        trace.seek(0)
        run.trace = trace.read().decode('utf-8', errors='replace')
    return run


def in_vm(*command):
    """Runs this script's command in the virtual machine; its exit status."""
    env = [f'--env={name}={os.environ[name]}' for name in ('KESTREL_E2E_STATE', 'KESTREL_EXE', 'KESTREL_DOUBLES')
           if name in os.environ] + [f'--env=KESTREL_DESK={DESK_NUMBER}']
    return subprocess.run([sys.executable, f'{SCRIPTS}/vm.py', 'run', VM, '--cd', HERE,
                           '--env=PYTHONDONTWRITEBYTECODE=1', *env, '--', 'python3', 'kestrel.py', *command]).returncode


def main(action, *args):
    if action == 'start':
        stop_vm()
        # Not inside the virtual machine, which is Windows enough for itself.
        if os.environ.get('KESTREL_WINE_ROOT') != '/':
            route = subprocess.run(['bash', f'{SCRIPTS}/route.sh'], stdout=subprocess.PIPE, text=True, check=True)
            print(route.stdout, end='', flush=True)
            if route.stdout.startswith('vm'):
                shares = [os.path.join(HERE, '..', '..'), os.path.dirname(os.environ['KESTREL_EXE']), DOUBLES]
                subprocess.run([sys.executable, f'{SCRIPTS}/vm.py', 'boot', VM, '--owner', str(os.getppid())] +
                               [f'--share={path}' for path in shares], check=True)
    if os.path.isdir(VM):
        status = in_vm(action, *args)
        if action == 'stop':
            stop_vm()
        return status
    if action == 'start':
        stop()
        hold()
        action = 'setup'
    if action != 'stop' and os.environ.get('KESTREL_INSIDE') != str(holder()):
        enter(action, *args)
    if action == 'test':  # here, not in a Python of its own: under emulation each start costs a second
        result = unittest.main(module=None, argv=['kestrel.py', '-v', *args], exit=False).result
        return 0 if result.wasSuccessful() else 1
    return {'setup': setup, 'desk': set_up_desk, 'stop': stop}[action](*args)


def stop_vm():
    subprocess.run([sys.executable, f'{SCRIPTS}/vm.py', 'halt', VM], check=True)


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]))
