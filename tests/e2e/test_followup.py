"""The two prompts after the report, systeminfo appended through cmd.exe, and
opening the report, driven through the real boxes."""
import os
import shutil
import subprocess
import time
import unittest

from kestrel import (DOUBLES, PROMPT_CAPTION, STATE, STATE_DIR, new_folder, read_bytes, run_kestrel, screenshot,
                     trace_lines, trace_text, visible_windows, wait_for_window, windows_path)

SAVE_PROMPT = ('Get System Information?\nPress OK to save system information to SInfo.txt\n\n'
               'File will be saved to the current program location')
OPEN_PROMPT = 'Open File\nDo you want to open the saved file "SysInfo.txt"?\nPress OK to Open the File'
OK_AT_SAVE = (PROMPT_CAPTION, 'OK')
OK_AT_OPEN = (PROMPT_CAPTION, 'OK')
CANCEL_AT_OPEN = (PROMPT_CAPTION, 'Cancel')
SYSTEM32 = os.path.join(STATE['prefix'], 'drive_c', 'windows', 'system32')
SYSTEM_DOUBLE_MARKER = os.path.join(SYSTEM32, 'systeminfo.exe.ran')
DOUBLE_OUTPUT = (b'Host Name:                 KESTREL-DOUBLE\r\n'
                 b'OS Name:                   Systeminfo Test Double\r\n'
                 b'System Type:               x64-based PC\r\n')
PROCESS_TRACE = '-all,trace+msgbox,trace+process,trace+shell'


def report_lines(folder):
    return read_bytes(os.path.join(folder, 'SInfo.txt')).split(b'\r\n')


def inventory_starts(trace):
    """The processes started with the inventory command line."""
    return [line for line in trace_lines(trace, 'CreateProcessInternalW app ') if 'systeminfo >>' in line]


def viewer_starts(trace):
    """The shell's default viewer for text files started on the report."""
    return [line for line in trace_lines(trace, 'CreateProcessInternalW app ') if 'notepad.exe' in line]


def close_viewers():
    subprocess.run(['pkill', '-f', 'notepad.exe'], check=False)


class FollowUp(unittest.TestCase):
    def setUp(self):
        close_viewers()
        self.addCleanup(close_viewers)
        if os.path.exists(SYSTEM_DOUBLE_MARKER):
            os.remove(SYSTEM_DOUBLE_MARKER)

    def test_enter_at_the_save_prompt_is_cancel(self):
        folder = new_folder()
        picture = os.path.join(STATE_DIR, 'save-prompt.png')
        run = run_kestrel(folder, answers=((PROMPT_CAPTION, 'Return'),), debug=PROCESS_TRACE,
                          on_box=lambda window, box: screenshot(window, picture))
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT])
        self.assertEqual(len(report_lines(folder)), 12)  # eleven lines and the empty rest
        self.assertEqual(inventory_starts(run.trace), [])
        self.assertGreater(os.path.getsize(picture), 0)

    def test_escape_at_the_save_prompt_is_cancel(self):
        folder = new_folder()
        run = run_kestrel(folder, answers=((PROMPT_CAPTION, 'Escape'),), debug=PROCESS_TRACE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT])
        self.assertFalse(os.path.exists(SYSTEM_DOUBLE_MARKER))

    def test_ok_appends_systeminfo_and_ok_again_opens_the_report(self):
        folder = new_folder('support files')
        run = run_kestrel(folder, answers=(OK_AT_SAVE, OK_AT_OPEN), debug=PROCESS_TRACE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT, OPEN_PROMPT])
        data = read_bytes(os.path.join(folder, 'SInfo.txt'))
        self.assertEqual(data.split(b'\r\n')[10][:14], b'Screen Width: ')
        self.assertTrue(data.endswith(b' x Height: 768\r\n' + DOUBLE_OUTPUT), data[-200:])
        # The interpreter by its full path; the report path whole between the quotes.
        report = windows_path(folder) + '\\SInfo.txt'
        command = trace_text(f'cmd.exe /C cd C:\\windows\\system32& systeminfo >> "{report}"')
        interpreter = trace_text('C:\\windows\\system32\\cmd.exe')
        self.assertEqual(inventory_starts(run.trace),
                         [f'CreateProcessInternalW app L"{interpreter}" cmdline L"{command}"'])
        self.assertEqual(len(viewer_starts(run.trace)), 1)
        self.assertIsNotNone(wait_for_window('SInfo\\.txt', None, 20), 'no viewer showed the report')

    def test_cancel_at_the_open_prompt_opens_nothing(self):
        folder = new_folder()
        run = run_kestrel(folder, answers=(OK_AT_SAVE, CANCEL_AT_OPEN), debug=PROCESS_TRACE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT, OPEN_PROMPT])
        self.assertTrue(read_bytes(os.path.join(folder, 'SInfo.txt')).endswith(DOUBLE_OUTPUT))
        self.assertEqual(viewer_starts(run.trace), [])
        time.sleep(2)
        self.assertEqual(visible_windows('SInfo'), [])

    def test_planted_cmd_and_systeminfo_beside_the_program_do_not_run(self):
        folder = new_folder()
        for name in ('cmd.exe', 'systeminfo.exe'):
            shutil.copy(os.path.join(DOUBLES, 'SystemInfoDouble.exe'), os.path.join(folder, name))
        # Started from its own folder: the current drive is Z:, the system's is C:.
        run = run_kestrel(folder, answers=(OK_AT_SAVE, CANCEL_AT_OPEN), cwd=folder)
        self.assertEqual(run.returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(folder, 'cmd.exe.ran')))
        self.assertFalse(os.path.exists(os.path.join(folder, 'systeminfo.exe.ran')))
        self.assertTrue(os.path.exists(SYSTEM_DOUBLE_MARKER))
        self.assertTrue(read_bytes(os.path.join(folder, 'SInfo.txt')).endswith(DOUBLE_OUTPUT))

    def test_without_a_command_interpreter_the_run_ends_after_ok(self):
        cmd = os.path.join(SYSTEM32, 'cmd.exe')
        os.rename(cmd, cmd + '.away')
        self.addCleanup(os.rename, cmd + '.away', cmd)
        folder = new_folder()
        run = run_kestrel(folder, answers=(OK_AT_SAVE, CANCEL_AT_OPEN), debug=PROCESS_TRACE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(run.box_texts(), [SAVE_PROMPT])
        self.assertEqual(len(report_lines(folder)), 12)

    def test_dlls_loaded_after_start_are_not_looked_for_beside_the_program(self):
        folder = new_folder()
        run = run_kestrel(folder, debug='-all,trace+file')
        self.assertEqual(run.returncode, 0)
        beside = trace_text(windows_path(folder) + '\\')
        looked_for = {line.split(beside, 1)[1].split('"')[0].lower()
                      for line in trace_lines(run.trace, f'RtlDosPathNameToNtPathName_U_WithStatus (L"{beside}')}
        # The loader still searches there for the program's own imports, before
        # the program runs; what the boxes load later must not be.
        self.assertIn('msvcrt.dll', looked_for)
        self.assertNotIn('uxtheme.dll', looked_for)
        self.assertNotIn('winex11.drv', looked_for)


if __name__ == '__main__':
    unittest.main()
