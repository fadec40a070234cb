"""The two prompts after the report, systeminfo appended through cmd.exe, and
the report opened, driven through the real boxes."""
import os
import shutil
import subprocess
import time
import unittest

from kestrel import (DOUBLES, OVERRIDES, PROMPT, STATE_DIR, find_window, new_folder, read_bytes, run_kestrel,
                     screenshot, trace_lines, trace_text, windows_path, syswow64)

SAVE_PROMPT = ('Get System Information?\nPress OK to save system information to SInfo.txt\n\n'
               'File will be saved to the current program location')
OPEN_PROMPT = 'Open File\nDo you want to open the saved file "SysInfo.txt"?\nPress OK to Open the File'
DOUBLE_RAN = os.path.join(syswow64(), 'systeminfo.exe.ran')
DOUBLE_OUTPUT = (b'Host Name:                 KESTREL-DOUBLE\r\n'
                 b'OS Name:                   Systeminfo Test Double\r\n'
                 b'System Type:               x64-based PC\r\n')
TRACE = '-all,trace+msgbox,trace+process'


def report(folder):
    return read_bytes(os.path.join(folder, 'SInfo.txt'))


def started(run, marker):
    """The programs started from command lines that hold marker."""
    return [line for line in trace_lines(run.trace, 'CreateProcessInternalW app ') if marker in line]


def remove(path):
    if os.path.exists(path):
        os.remove(path)


class FollowUp(unittest.TestCase):
    def setUp(self):
        remove(DOUBLE_RAN)
        self.addCleanup(subprocess.run, ['pkill', '-f', 'notepad.exe'])

    def test_enter_at_the_save_prompt_is_cancel(self):
        folder = new_folder()
        picture = os.path.join(STATE_DIR, 'save-prompt.png')
        run = run_kestrel(folder, answers=((PROMPT, 'Return'),), debug=TRACE + ',trace+file',
                          on_box=lambda window: screenshot(window, picture))
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT])
        self.assertEqual(report(folder).count(b'\r\n'), 11)
        self.assertEqual(started(run, 'systeminfo >>'), [])
        self.assertGreater(os.path.getsize(picture), 0)
        # The loader looks beside the program for its own imports, before it
        # runs; what the box loads later must come from the system alone.
        beside = trace_text(windows_path(folder) + '\\')
        looked_for = {line.split(beside, 1)[1].split('"')[0].lower()
                      for line in trace_lines(run.trace, f'RtlDosPathNameToNtPathName_U_WithStatus (L"{beside}')}
        self.assertIn('msvcrt.dll', looked_for)
        self.assertNotIn('uxtheme.dll', looked_for)
        self.assertNotIn('winex11.drv', looked_for)

    def test_ok_appends_systeminfo_and_ok_again_opens_the_report(self):
        folder = new_folder('support files')
        run = run_kestrel(folder, answers=((PROMPT, 'OK'), (PROMPT, 'OK')), debug=TRACE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT, OPEN_PROMPT])
        data = report(folder)
        self.assertEqual(data.count(b'\r\n'), 11 + 3)
        self.assertTrue(data.endswith(b' x Height: 768\r\n' + DOUBLE_OUTPUT), data[-200:])
        # The interpreter by its full path in the system directory that a 32-bit
        # process is given; Windows redirects both to the 32-bit syswow64.
        command = trace_text(f'cmd.exe /C cd C:\\windows\\system32& systeminfo >> "{windows_path(folder)}\\SInfo.txt"')
        self.assertEqual(started(run, 'systeminfo >>'),
                         [f'CreateProcessInternalW app L"C:\\\\windows\\\\system32\\\\cmd.exe" cmdline L"{command}"'])
        self.assertTrue(os.path.exists(DOUBLE_RAN))
        self.assertEqual(len(started(run, 'notepad.exe')), 1)
        self.assertIsNotNone(find_window('SInfo\\.txt'), 'no viewer showed the report')

    def test_planted_programs_do_not_run_and_cancel_opens_nothing(self):
        folder = new_folder()
        for name in ('cmd.exe', 'systeminfo.exe'):
            shutil.copy(os.path.join(DOUBLES, 'SystemInfoDouble.exe'), os.path.join(folder, name))
        # Started in its own folder, on drive Z:, while the system's is C:.
        run = run_kestrel(folder, answers=((PROMPT, 'OK'), (PROMPT, 'Cancel')), debug=TRACE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT, OPEN_PROMPT])
        self.assertEqual(sorted(os.listdir(folder)), ['Kestrel.exe', 'SInfo.txt', 'cmd.exe', 'systeminfo.exe'])
        self.assertTrue(report(folder).endswith(DOUBLE_OUTPUT))
        self.assertEqual(started(run, 'notepad.exe'), [])

    def test_without_a_command_interpreter_the_run_ends_after_ok(self):
        cmd = os.path.join(syswow64(), 'cmd.exe')
        os.rename(cmd, cmd + '.away')
        self.addCleanup(os.rename, cmd + '.away', cmd)
        folder = new_folder()
        run = run_kestrel(folder, answers=((PROMPT, 'OK'), (PROMPT, 'Cancel')), debug=TRACE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT])
        self.assertEqual(report(folder).count(b'\r\n'), 11)

    def test_windows_own_systeminfo_follows_the_report(self):
        folder = new_folder()
        run = run_kestrel(folder, answers=((PROMPT, 'OK'), (PROMPT, 'Cancel')),
                          env={'WINEDLLOVERRIDES': OVERRIDES + ';systeminfo.exe=b'})
        self.assertEqual(run.returncode, 0)
        self.assertEqual(len(run.boxes), 2)
        self.assertFalse(os.path.exists(DOUBLE_RAN))
        lines = report(folder).split(b'\r\n')
        self.assertTrue(lines[10].startswith(b'Screen Width: '), lines[:12])
        self.assertTrue(lines[11].startswith(b'Host Name:'), lines[11])
        self.assertIn(b'System Directory:', b'\n'.join(lines[12:]))


class BoundedWait(unittest.TestCase):
    """Slow by nature: about 70 s."""

    def test_second_box_appears_after_55_5_s_while_systeminfo_still_runs(self):
        done = DOUBLE_RAN.replace('.ran', '.done')
        remove(DOUBLE_RAN)
        remove(done)
        self.addCleanup(subprocess.run, ['pkill', '-f', 'systeminfo.exe'])
        still_running = []
        folder = new_folder()
        run = run_kestrel(folder, answers=((PROMPT, 'OK'), (PROMPT, 'Cancel')), box_timeout=75,
                          env={'KESTREL_DOUBLE_SLEEP_MS': '70000'},
                          on_box=lambda window: still_running.append(not os.path.exists(done)))
        self.assertEqual(run.returncode, 0)
        self.assertEqual(len(run.boxes), 2)
        waited = run.boxes[1][1] - run.boxes[0][2]
        self.assertTrue(55.0 <= waited <= 58.0, waited)
        self.assertEqual(still_running, [True, True])
        # The double printed before it slept: its lines are in the report already.
        self.assertTrue(report(folder).endswith(DOUBLE_OUTPUT))


if __name__ == '__main__':
    unittest.main()
