#!/usr/bin/env python3
"""Runs commands in the x86-64 virtual machine that vm-image.sh makes: Windows
for hosts whose kernel runs no 32-bit code, where Wine's WoW64 mode cannot run.

    vm.py boot STATE [--owner PID] [--share DIR]...   boot; return once it takes commands
    vm.py run STATE [--cd DIR] [--env NAME=VALUE]... -- COMMAND...
                                                      run COMMAND there as root; its
                                                      output and exit status come back
    vm.py halt STATE                                  power off; STATE is removed
    vm.py exec [--share DIR]... [--cd DIR] [--env NAME=VALUE]... -- COMMAND...
                                                      all three for one command

It uses KVM where this user may open /dev/kvm and it works, software emulation
otherwise, with the QEMU of the Wine root (wine-root.sh) on every host. Its disk
is read through a throw-away overlay, so every boot starts from the same state.
The host folders given with --share appear in it read-only under the same paths.
KESTREL_VM_KERNEL_ARGS adds options to its kernel's command line: with
ia32_emulation=0 it is a host that runs no 32-bit code, for trying route.sh.

A keeper process owns qemu. It powers the machine off and removes STATE when
halted, when interrupted (Ctrl-C reaches it as it does ctest), and when the
OWNER process ends (by default the one that booted it): no qemu outlives a run.
"""
import argparse
import contextlib
import ctypes
import fcntl
import functools
import glob
import os
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KVM_GET_API_VERSION = 0xAE00
CACHE = os.environ.get('KESTREL_CACHE') or os.path.join(
    os.environ.get('XDG_CACHE_HOME') or os.path.expanduser('~/.cache'), 'kestrel')


@functools.cache
def emulator():
    """The Wine root's qemu-system-x86_64, Debian 13's QEMU 10, on the host's files but for /usr and
    /etc, and ended with its parent. Under software emulation Debian 12's QEMU 7.2 could translate a
    page while the other processor still rewrote it, and so run old code after the machine's kernel
    had patched it: that kernel then died (fixed in QEMU 8.1)."""
    root = subprocess.run(['bash', f'{HERE}/wine-root.sh'], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.strip()
    return ['bwrap', '--dev-bind', '/', '/', '--ro-bind', f'{root}/usr', '/usr', '--ro-bind', f'{root}/etc', '/etc',
            '--die-with-parent', 'qemu-system-x86_64']


def kvm_usable(image):
    """Whether KVM runs the machine's kernel. A /dev/kvm that answers is not
    enough: some hosts' KVM fails on the kernel's first instructions. So the
    kernel is booted once with nothing to mount, up to its panic; the answer is
    kept until the host boots again."""
    try:
        kvm = os.open('/dev/kvm', os.O_RDWR | os.O_CLOEXEC)
        answers = fcntl.ioctl(kvm, KVM_GET_API_VERSION) == 12
        os.close(kvm)
    except OSError:
        return False
    boot_id = open('/proc/sys/kernel/random/boot_id').read().strip()
    verdict = os.path.join(CACHE, f'kvm-{boot_id}')
    if answers and not os.path.exists(verdict):
        trial = subprocess.Popen([*emulator(), '-accel', 'kvm', '-m', '512', '-nodefaults', '-display', 'none',
                                  '-no-reboot', '-serial', 'stdio', '-kernel', f'{image}/vmlinuz',
                                  '-append', 'console=ttyS0 panic=-1'],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        timer = threading.Timer(60, trial.kill)
        timer.start()
        result = 'no'
        for line in trial.stdout:
            if b'Kernel panic' in line:
                result = 'yes'
            if b'Kernel panic' in line or b'KVM internal error' in line:
                break
        trial.kill()
        trial.wait()
        timer.cancel()
        # Whole or not at all, as another run may be reading it; earlier boots' verdicts go.
        with open(f'{verdict}.{os.getpid()}', 'w') as file:
            file.write(result)
        os.replace(f'{verdict}.{os.getpid()}', verdict)
        for old in glob.glob(verdict[:-len(boot_id)] + '*'):
            if not old.startswith(verdict):
                with contextlib.suppress(FileNotFoundError):
                    os.remove(old)
    return answers and open(verdict).read() == 'yes'


def alive(pid):
    """Whether pid runs; an unreaped child that has ended does not."""
    try:
        with open(f'/proc/{pid}/stat') as stat:
            return stat.read().rsplit(')', 1)[1].split()[0] != 'Z'
    except OSError:
        return False


def image_folder(image):
    if image:
        return image
    return subprocess.run(['bash', f'{HERE}/vm-image.sh'], check=True, stdout=subprocess.PIPE,
                          text=True).stdout.strip()


def keep(state, image, owner, accel, write):
    """The keeper: runs qemu until halted, interrupted or orphaned, then cleans up."""
    shares = [line.split(' ', 1) for line in open(f'{state}/io/shares').read().splitlines()]
    # The kernel rewrites its own code when a static key flips, and under software emulation
    # a flip while the other processor runs the site is what an emulator's race turns into a
    # dead kernel. So no key is left to flip late: tsc=reliable keeps the clock watchdog from
    # calling the TSC unstable on a busy host, and RDRAND, trusted, makes the random generator
    # ready during the boot, on one processor, not seconds later from interrupts.
    emulated = accel.startswith('tcg')
    command = [*emulator(), '-accel', accel, *(['-cpu', 'qemu64,rdrand=on'] * emulated), '-smp', '2', '-m', '3072',
               '-nodefaults', '-display', 'none', '-no-reboot', '-serial', f'file:{state}/console.log',
               '-kernel', f'{image}/vmlinuz', '-initrd', f'{image}/initrd.img',
               '-append', 'root=/dev/vda rw console=ttyS0 init=/kestrel-init panic=-1 quiet tsc=reliable ' +
               'random.trust_cpu=on ' * emulated + os.environ.get('KESTREL_VM_KERNEL_ARGS', ''),
               '-drive', f'file={image}/disk.ext4,format=raw,if=virtio,discard=unmap,'
                         f'snapshot={"off" if write else "on"}',
               '-virtfs', f'local,path={state}/io,mount_tag=io,security_model=none']
    for tag, path in shares:
        command += ['-virtfs', f'local,path={path},mount_tag={tag},security_model=none,readonly=on']
    libc = ctypes.CDLL(None, use_errno=True)
    # The overlay file goes into STATE, so it goes with it; qemu dies with its keeper.
    qemu = subprocess.Popen(command, env=dict(os.environ, TMPDIR=state), stdin=subprocess.DEVNULL,
                            preexec_fn=lambda: libc.prctl(1, signal.SIGKILL))
    stopping = []
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda *_: stopping.append(True))
    halted_at = None
    while qemu.poll() is None and not stopping and alive(owner):
        if halted_at is None and os.path.exists(f'{state}/io/halt'):
            halted_at = time.monotonic()
        if halted_at is not None and time.monotonic() - halted_at > 60:
            break
        time.sleep(0.2)
    if qemu.poll() is None:
        qemu.kill()
    qemu.wait()
    # A machine that stopped by itself leaves STATE, with its console, to whoever halts it.
    if stopping or halted_at is not None or not alive(owner):
        shutil.rmtree(state, ignore_errors=True)


def keeper_pid(state):
    try:
        return int(open(f'{state}/keeper').read())
    except (OSError, ValueError):
        return None


def console_tail(state):
    try:
        return ''.join(open(f'{state}/console.log', errors='replace').readlines()[-15:])
    except OSError:
        return '(no console output)'


def boot(state, shares, owner, image=None, write=False):
    if os.path.exists(state):
        halt(state)
    image = image_folder(image)
    os.makedirs(f'{state}/io')
    # Folders inside another shared one come with it.
    paths = {os.path.realpath(path) for path in shares}
    paths = sorted(path for path in paths if not any(path.startswith(other + '/') for other in paths))
    tags = [f's{n} {path}' for n, path in enumerate(paths)]
    with open(f'{state}/io/shares', 'w') as file:
        file.write(''.join(line + '\n' for line in tags))
    kvm = kvm_usable(image)
    print(f'Booting the virtual machine ({"KVM" if kvm else "software emulation: no usable KVM"})', file=sys.stderr,
          flush=True)
    accel = 'kvm' if kvm else 'tcg,thread=multi'
    with open(f'{state}/keeper.log', 'w') as log:
        keeper = subprocess.Popen([sys.executable, __file__, 'keep', state, image, str(owner), accel] +
                                  ['--write'] * write, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    open(f'{state}/keeper', 'w').write(str(keeper.pid))
    started = time.monotonic()
    # Not booted again: a machine that stops on its own is a fault to see, not to hide.
    while not os.path.exists(f'{state}/io/ready'):
        if keeper.poll() is not None or time.monotonic() - started > 600:
            what = 'stopped while it booted' if keeper.poll() is not None else 'did not come up'
            sys.exit(f'vm: the virtual machine {what}; its console ended:\n{console_tail(state)}')
        time.sleep(0.2)
    print(f'The virtual machine took commands after {time.monotonic() - started:.0f} s', file=sys.stderr, flush=True)


def run(state, command, cwd, env):
    """Runs command in the machine, copying its output here as it comes; its exit status."""
    if keeper_pid(state) is None:
        sys.exit(f'vm: no virtual machine is booted in {state}')
    name = f'{state}/io/{os.getpid()}-{time.time_ns()}'
    script = [f'cd {shlex.quote(cwd)} || exit 125'] + [f'export {shlex.quote(pair)}' for pair in env]
    script.append(' '.join(map(shlex.quote, command)))
    with open(name + '.new', 'w') as file:
        file.write('\n'.join(script) + '\n')
    os.rename(name + '.new', name + '.job')
    offset = 0
    while True:
        # Read before the output, so that the output is whole when it is.
        finished = os.path.exists(name + '.status')
        pid = keeper_pid(state)
        stopped = pid is None or not alive(pid)
        if os.path.exists(name + '.out'):
            with open(name + '.out', 'rb') as out:
                out.seek(offset)
                chunk = out.read()
                offset += len(chunk)
                sys.stdout.buffer.write(chunk)
                sys.stdout.flush()
        if finished:
            return int(open(name + '.status').read())
        if stopped:
            print(f'vm: the virtual machine stopped; its console ended:\n{console_tail(state)}', file=sys.stderr)
            return 1
        time.sleep(0.2)


def halt(state):
    pid = keeper_pid(state)
    if pid is not None and alive(pid):
        open(f'{state}/io/halt', 'w').close()
        deadline = time.monotonic() + 90
        while alive(pid) and time.monotonic() < deadline:
            time.sleep(0.2)
        if alive(pid):
            os.kill(pid, signal.SIGTERM)
            while alive(pid):
                time.sleep(0.2)
    shutil.rmtree(state, ignore_errors=True)


def main():
    argv = sys.argv[1:]
    split = argv.index('--') if '--' in argv else len(argv)
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('action', choices=('boot', 'run', 'halt', 'exec', 'keep'))
    parser.add_argument('state', nargs='?', default=f'/var/tmp/kestrel-vm-{os.getpid()}')
    parser.add_argument('keep', nargs='*', help=argparse.SUPPRESS)
    parser.add_argument('--owner', type=int, default=os.getppid())
    parser.add_argument('--share', action='append', default=[])
    parser.add_argument('--cd', default='/')
    parser.add_argument('--env', action='append', default=[])
    parser.add_argument('--image', help="the disk's folder (default: vm-image.sh's)")
    parser.add_argument('--write', action='store_true', help='keep what the machine writes on its disk')
    args, command = parser.parse_args(argv[:split]), argv[split + 1:]
    if args.action == 'keep':
        return keep(args.state, args.keep[0], int(args.keep[1]), args.keep[2], args.write)
    if args.action == 'boot':
        return boot(args.state, args.share, args.owner, args.image, args.write)
    if args.action == 'run':
        return run(args.state, command, args.cd, args.env)
    if args.action == 'halt':
        return halt(args.state)
    try:
        boot(args.state, args.share, os.getpid(), args.image, args.write)
        return run(args.state, command, args.cd, args.env)
    finally:
        halt(args.state)


if __name__ == '__main__':
    sys.exit(main())
