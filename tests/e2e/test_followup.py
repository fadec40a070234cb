"""The two prompts after the report, systeminfo appended through cmd.exe, and
the report opened, driven through the real boxes."""
import os
import shutil
import subprocess
import unittest
from pathlib import Path

from kestrel import (DOUBLES, OVERRIDES, PROMPT, STATE_DIR, SYSWOW64, box_texts, find_window, new_folder, run_kestrel,
                     screenshot, trace_lines, trace_text, windows_path)

SAVE_PROMPT = ('Get System Information?\nPress OK to save system information to SInfo.txt\n\n'
               'File will be saved to the current program location')
OPEN_PROMPT = 'Open File\nDo you want to open the saved file "SysInfo.txt"?\nPress OK to Open the File'
DOUBLE_RAN, DOUBLE_DONE = (os.path.join(SYSWOW64, 'systeminfo.exe' + end) for end in ('.ran', '.done'))
DOUBLE_OUTPUT = (b'Host Name:                 KESTREL-DOUBLE\r\nOS Name:                   Systeminfo Test Double\r\n'
                 b'System Type:               x64-based PC\r\n')
TRACE = '-all,trace+msgbox,trace+process'
OK_THEN = lambda second: ((PROMPT, 'OK'), (PROMPT, second))  # noqa: E731


def report(folder):
    return Path(folder, 'SInfo.txt').read_bytes()


def started(run, marker):
    """The programs started with a command line that holds marker."""
    return [line for line in trace_lines(run.trace, 'CreateProcessInternalW app ') if marker in line]


class FollowUp(unittest.TestCase):
    def setUp(self):
        for marker in (DOUBLE_RAN, DOUBLE_DONE):
            if os.path.exists(marker):
                os.remove(marker)
        self.addCleanup(subprocess.run, ['pkill', '-f', 'notepad.exe|systeminfo.exe'])

    def test_enter_at_the_save_prompt_is_cancel(self):
        folder = new_folder()
        picture = os.path.join(STATE_DIR, 'save-prompt.png')
        run = run_kestrel(folder, answers=((PROMPT, 'Return'),), debug=TRACE + ',trace+file',
                          on_box=lambda window: screenshot(window, picture))
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT]))
        self.assertEqual(report(folder).count(b'\r\n'), 11)
        self.assertEqual(started(run, 'systeminfo >>'), [])
        self.assertGreater(os.path.getsize(picture), 0)
        # The loader looks beside the program for its own imports, before it
        # runs; what the box loads later must come from the system alone.
        beside = trace_text(windows_path(folder) + '\\')
        looked_for = {line.split(beside, 1)[1].split('"')[0].lower()
                      for line in trace_lines(run.trace, f'RtlDosPathNameToNtPathName_U_WithStatus (L"{beside}')}
        self.assertIn('msvcrt.dll', looked_for)
        self.assertFalse({'uxtheme.dll', 'winex11.drv'} & looked_for)

    def test_ok_appends_systeminfo_and_ok_again_opens_the_report(self):
        folder = new_folder('support files')
        run = run_kestrel(folder, answers=OK_THEN('OK'), debug=TRACE)
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT, OPEN_PROMPT]))
        self.assertRegex(report(folder), b'^([^\r\n]*\r\n){10}Screen Width: [^\r\n]*\r\n' + DOUBLE_OUTPUT + b'$')
        # cmd.exe by its full path in the system directory that a 32-bit process
        # is given; Windows then redirects it, and systeminfo, to syswow64.
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
        # Run in its own folder, on drive Z:, while the system's is C:.
        run = run_kestrel(folder, answers=OK_THEN('Cancel'), debug=TRACE)
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT, OPEN_PROMPT]))
        self.assertEqual(sorted(os.listdir(folder)), ['Kestrel.exe', 'SInfo.txt', 'cmd.exe', 'systeminfo.exe'])
        self.assertTrue(report(folder).endswith(DOUBLE_OUTPUT))
        self.assertEqual(started(run, 'notepad.exe'), [])

    def test_without_a_command_interpreter_the_run_ends_after_ok(self):
        cmd = os.path.join(SYSWOW64, 'cmd.exe')
        os.rename(cmd, cmd + '.away')
        self.addCleanup(os.rename, cmd + '.away', cmd)
        folder = new_folder()
        run = run_kestrel(folder, answers=OK_THEN('Cancel'), debug=TRACE)
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT]))
        self.assertEqual(report(folder).count(b'\r\n'), 11)

    def test_windows_own_systeminfo_follows_the_report(self):
        folder = new_folder()
        run = run_kestrel(folder, answers=OK_THEN('Cancel'), env={'WINEDLLOVERRIDES': OVERRIDES + ';systeminfo.exe=b'})
        self.assertEqual((run.returncode, len(run.boxes)), (0, 2))
        self.assertRegex(report(folder), b'^([^\r\n]*\r\n){10}Screen Width: [^\r\n]*\r\nHost Name: +[^\r\n]+\r\n')
        self.assertIn(b'\r\nSystem Directory:', report(folder))
        self.assertFalse(os.path.exists(DOUBLE_RAN))


class BoundedWait(unittest.TestCase):
    """Slow by nature: about 60 s."""
    setUp = FollowUp.setUp

    def test_second_box_after_55_5_s_while_systeminfo_still_runs(self):
        still_running = []
        folder = new_folder()
        run = run_kestrel(folder, answers=OK_THEN('Cancel'), box_timeout=75, env={'KESTREL_DOUBLE_SLEEP_MS': '70000'},
                          on_box=lambda window: still_running.append(not os.path.exists(DOUBLE_DONE)))
        self.assertEqual((run.returncode, len(run.boxes)), (0, 2))
        self.assertTrue(55.0 <= run.boxes[1][0] - run.boxes[0][1] <= 58.0, run.boxes)
        self.assertEqual(still_running, [True, True])
        # The double printed before it slept: its lines are in the report already.
        self.assertTrue(report(folder).endswith(DOUBLE_OUTPUT))


if __name__ == '__main__':
    unittest.main()
