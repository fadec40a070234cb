"""The two prompts after the report, systeminfo appended through cmd.exe, and
the report opened, driven through the real boxes."""
import os
import re
import shutil
import subprocess
import unittest

from kestrel import (DOUBLE_OUTPUT, DOUBLES, OK_OK, PREFIX, PROMPT, SYSWOW64, box_texts, close_viewer,
                     end_programs, find_window, location_lines, new_folder, own_calls, report, run_kestrel, started,
                     trace_lines, trace_text, windows_path)

SAVE_PROMPT = ('Get System Information?\nPress OK to save system information to SInfo.txt\n\n'
               'File will be saved to the current program location')
OPEN_PROMPT = 'Open File\nDo you want to open the saved file "SysInfo.txt"?\nPress OK to Open the File'
ELEVEN_LINES = rb'^([^\r\n]*\r\n){10}Screen Width: [^\r\n]*\r\n'
TRACE = '-all,trace+msgbox,trace+process'
OK_CANCEL = ((PROMPT, 'OK'), (PROMPT, 'Cancel'))
COINIT_FLAGS = 0x2 | 0x4  # COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE
SEE_MASK_FLAGS = 0x100 | 0x400  # SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI
# MB_OKCANCEL | MB_ICONQUESTION, with MB_DEFBUTTON2 | MB_SETFOREGROUND for the first.
BOX_TYPES = (0x1 | 0x20 | 0x100 | 0x10000, 0x1 | 0x20)


class FollowUp(unittest.TestCase):
    def test_enter_at_the_save_prompt_is_cancel(self):
        folder = new_folder()
        run = run_kestrel(folder, answers=((PROMPT, 'Return'),), debug=TRACE + ',trace+file')
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT]))
        self.assertEqual(started(run, 'systeminfo >>'), [])
        # The loader looks beside the program for its imports; what the box loads later must not.
        beside = trace_text(windows_path(folder) + '\\')
        looked_for = {line.split(beside, 1)[1].split('"')[0].lower()
                      for line in trace_lines(run.trace, f'RtlDosPathNameToNtPathName_U_WithStatus (L"{beside}')}
        self.assertIn('msvcrt.dll', looked_for)
        self.assertFalse({'uxtheme.dll', 'winex11.drv'} & looked_for)

    def test_ok_appends_systeminfo_on_a_share_and_ok_again_opens_the_report(self):
        # Started from where support desks hand out tools: a network share.
        folder, share = new_folder(), '\\\\fileserver\\support tools'
        self.addCleanup(close_viewer)
        os.makedirs(f'{PREFIX}/dosdevices/unc/fileserver', exist_ok=True)
        os.symlink(folder, f'{PREFIX}/dosdevices/unc/fileserver/support tools')
        self.addCleanup(os.remove, f'{PREFIX}/dosdevices/unc/fileserver/support tools')
        run = run_kestrel(folder, answers=OK_OK, debug=TRACE + ',trace+exec,+relay', exe=share + '\\Kestrel.exe')
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT, OPEN_PROMPT]))
        self.assertRegex(report(folder), ELEVEN_LINES + re.escape(DOUBLE_OUTPUT) + b'$')
        self.assertEqual(*location_lines(folder, share.encode() + b'\\'))
        # cmd.exe by its full path in the 32-bit process's system directory, redirected to syswow64.
        command = trace_text(f'cmd.exe /C cd C:\\windows\\system32& systeminfo >> "{share}\\SInfo.txt"')
        self.assertEqual(started(run, 'systeminfo >>'),
                         [f'CreateProcessInternalW app L"C:\\\\windows\\\\system32\\\\cmd.exe" cmdline L"{command}"'])
        self.assertEqual(len(started(run, 'notepad.exe')), 1)
        self.assertIsNotNone(find_window('SInfo\\.txt'), 'no viewer showed the report')
        self.check_open(run, os.path.join(folder, 'Kestrel.exe'), f'{share}\\SInfo.txt')

    def check_open(self, run, exe, path):
        """The exe's own calls: its boxes, and those around the open. Wine runs any open at once on the caller's thread;
        Windows may need a single-threaded apartment for it, or finish it on a thread of its own that
        the process, ending right after, would cut short: the viewer would never show."""
        thread, calls = own_calls(run.trace, exe)
        # Neither box has an owner. The first asks for the foreground, as Kestrel is started from
        # Explorer or a browser, which keep it otherwise; Cancel is its default, OK the second's.
        self.assertEqual([(name, words[0], words[3]) for name, words, _ in calls if name.startswith('MessageBox')],
                         [('MessageBoxW', 0, BOX_TYPES[0]), ('MessageBoxW', 0, BOX_TYPES[1])], 'hWnd, uType')
        shell = [(name, words) for name, words, _ in calls if name.startswith(('Co', 'ShellExecute'))]
        self.assertEqual([name for name, _ in shell], ['CoInitializeEx', 'ShellExecuteExW', 'CoUninitialize'])
        self.assertEqual(shell[0][1], [0, COINIT_FLAGS], 'CoInitializeEx: pvReserved, dwCoInit')
        opens = re.findall(rf'^{thread}:trace:exec:SHELL_execute mask=0x(\w+) hwnd=\w+ verb=L"(.*)" file=L"(.*)" '
                           r'parm=\(null\) dir=\(null\) show=0x(\w+) ', run.trace, re.MULTILINE)
        self.assertEqual(len(opens), 1, "the exe's opens")
        self.assertEqual(int(opens[0][0], 16) & SEE_MASK_FLAGS, SEE_MASK_FLAGS, 'ShellExecuteExW: fMask')
        self.assertEqual(opens[0][1:], ('open', trace_text(path), '00000001'),
                         'ShellExecuteExW: lpVerb, lpFile, nShow (SW_SHOWNORMAL)')

    def test_planted_programs_do_not_run_and_cancel_opens_nothing(self):
        folder = new_folder()
        for name in ('cmd.exe', 'systeminfo.exe'):
            shutil.copy(os.path.join(DOUBLES, 'SystemInfoDouble.exe'), os.path.join(folder, name))
        # Run in its own folder, on drive Z:, while the system's is C:.
        run = run_kestrel(folder, answers=OK_CANCEL, debug=TRACE)
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT, OPEN_PROMPT]))
        self.assertTrue(report(folder).endswith(DOUBLE_OUTPUT))
        self.assertEqual(started(run, 'notepad.exe'), [])

    def test_without_a_command_interpreter_the_run_ends_after_ok(self):
        cmd = os.path.join(SYSWOW64, 'cmd.exe')
        os.rename(cmd, cmd + '.away')
        self.addCleanup(os.rename, cmd + '.away', cmd)
        folder = new_folder()
        run = run_kestrel(folder, answers=((PROMPT, 'OK'),), debug=TRACE)
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, [SAVE_PROMPT]))
        self.assertEqual(report(folder).count(b'\r\n'), 11)


class BoundedWait(unittest.TestCase):
    """Slow by nature: about 60 s, on a desk of its own, where no case follows."""
    def tearDown(self):
        end_programs(restart=False)

    def test_second_box_after_55_5_s_while_systeminfo_still_runs(self):
        folder = new_folder()
        run = run_kestrel(folder, answers=OK_CANCEL, debug=TRACE + ',+timestamp',
                          env={'KESTREL_DOUBLE_SLEEP_MS': '70000'})
        inventory = ['pgrep', '-f', 'systeminfo >> .*' + os.path.basename(os.path.dirname(folder))]
        self.assertEqual((run.returncode, subprocess.run(inventory, capture_output=True).returncode), (0, 0))
        # From cmd.exe's creation in Kestrel's own thread (a busy host may delay it) to the second box.
        lines = run.trace.splitlines()
        launch = next(n for n, line in enumerate(lines) if 'systeminfo >>' in line)
        created = next(line for line in lines[launch:]
                       if f':{lines[launch].split(":")[1]}:trace:process:CreateProcessInternalW started' in line)
        shown = next(line for line in lines if 'MSGBOX_OnInit L"Open File' in line)
        waited = float(shown.split(':')[0]) - float(created.split(':')[0])
        self.assertTrue(55.5 <= waited <= 57.0, f'the second box came {waited:.3f} s after cmd.exe was created')
        # The double printed before it slept: its lines are in the report already.
        self.assertTrue(report(folder).endswith(DOUBLE_OUTPUT))


if __name__ == '__main__':
    unittest.main()
