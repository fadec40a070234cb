"""SInfo.txt as the shipped exe writes it: byte for byte against what the host
says, and where it cannot go as usual (each with a real cause)."""
import datetime
import os
import re
import tempfile
import unittest
from pathlib import Path

from kestrel import (COMPUTER_NAME, DOUBLE_OUTPUT, ERROR, ESCAPE, OK_OK, PREFIX, SCREEN, UPTIME_SHIFT, UTC_OFFSET, WORK,
                     WORK_AREA, box_texts, close_viewer, location_lines, new_folder, own_calls, report,
                     run_kestrel, set_log_pixels, started, trace_lines, trace_text, windows_path)

ANSWER_ERROR = ((ERROR, 'Return'),)
WC_ERR_INVALID_CHARS = 0x80
CODE_PAGES = {'cp1251': 1251, 'cp932': 932, 'utf-8': 65001}  # the rows whose conversions are traced


def uptime():
    return float(Path('/proc/uptime').read_text().split()[0]) + UPTIME_SHIFT


def folder_for_report_path(length, base=None):
    """A folder holding Kestrel.exe whose report path, 'Z:' + folder + '\\SInfo.txt', has length characters."""
    base = base or tempfile.mkdtemp(dir=WORK)
    needed = length - len('Z:\\SInfo.txt') - len(base) - 1
    parts = ['d' * 120] * ((needed - 1) // 121)
    return new_folder('e' * (needed - 121 * len(parts)), os.path.join(base, *parts))


class ReportChecks:
    """What every report case checks of the run and the file."""
    def check_report(self, folder, user='kestrel', codepage='cp1252', env=None, program='Kestrel.exe', shown=None,
                     cwd=None, answers=ESCAPE, relay=False):
        """shown: what the report holds in place of a text, beyond a '?' for each letter the code page
        lacks. With OK_OK, systeminfo's lines follow, and the viewer opens it. relay: the conversions too."""
        before, uptime_before = datetime.datetime.now(UTC_OFFSET), uptime()
        run = run_kestrel(folder, answers, debug='-all,err+environ,trace+file,trace+process' + ',+relay' * relay,
                          exe=windows_path(os.path.join(folder, program)), env=dict(env or {}, USER=user), cwd=cwd)
        after, uptime_after = datetime.datetime.now(UTC_OFFSET), uptime()
        self.assertEqual(run.returncode, 0)
        self.assertIn(f'{program}" in experimental wow64 mode', run.trace)
        data = report(folder)
        lines = data.decode(codepage).split('\r\n')
        self.assertIn(lines[0], {f'Today is {t.day}/{t.month}/{t.year}  at: {t.hour:02}:{t.minute:02}'
                                 for t in (before, after)})
        d, h, m, s = re.fullmatch(r'Windows UpTime: (\d+)d (\d+)h (\d+)m (\d+)sec', lines[2]).groups()
        seconds = int(d) * 86400 + int(h) * 3600 + int(m) * 60 + int(s)
        self.assertTrue(uptime_before - 2 <= seconds <= uptime_after + 1, lines[2])
        directory = windows_path(folder) + '\\'
        left, top, right, bottom = WORK_AREA
        expected = '\r\n'.join([
            lines[0], '', lines[2], '', f'This File is {directory}SInfo.txt', f'Program: {program}',
            f'Program Location: {directory}', f'Computer Name: {COMPUTER_NAME}', f'User Name: {user}',
            f'Screen Work Area - Top: {top} Left: {left} Bottom: {bottom} Right: {right}',
            'Screen Width: %d x Height: %d' % SCREEN]) + '\r\n'
        for text, written in (shown or {}).items():
            expected = expected.replace(text, written)
        appended = DOUBLE_OUTPUT if answers == OK_OK else b''
        # CR LF after every line, the last included; no byte-order or end-of-file mark.
        self.assertEqual(data.split(b'\r\n'), (expected.encode(codepage, errors='replace') + appended).split(b'\r\n'))
        # Created or emptied, write-only, shared for reading only; then 128-byte blocks, the rest
        # at the close. Kestrel's own thread only: cmd.exe opens the file too, to append.
        path = trace_text(directory + 'SInfo.txt')
        thread = next(line for line in run.trace.splitlines() if f'CreateFileW L"{path}"' in line).split(':')[0]
        own = '\n'.join(line for line in run.trace.splitlines() if line.startswith(thread + ':'))
        self.assertEqual(trace_lines(own, f'CreateFileW L"{path}"'),
                         [f'CreateFileW L"{path}" GENERIC_WRITE FILE_SHARE_READ  creation 2 attributes 0x80'])
        after_create = own.split(f'CreateFileW L"{path}"', 1)[1]
        handle = trace_lines(after_create, 'CreateFileW returning ')[0].split()[-1]
        sizes = [int(line.split()[3]) for line in trace_lines(after_create, f':WriteFile {handle} ')]
        written = len(data) - len(appended)
        self.assertEqual(sizes, [min(128, written - start) for start in range(0, written, 128)])
        if appended:
            self.assertEqual([path in line for line in started(run, 'notepad.exe')], [True])
        if relay:
            self.check_conversions(run.trace, os.path.join(folder, program), CODE_PAGES[codepage])

    def check_conversions(self, trace, exe, codepage):
        """The exe's own WideCharToMultiByte calls, as Windows takes them: it fails them for a flag
        it does not allow on the code page (on UTF-8 only WC_ERR_INVALID_CHARS, elsewhere that one
        too), and on UTF-8 for a default character or a used-default flag, and every line would be
        written empty. Wine converts anyway."""
        calls = own_calls(trace, exe)[1]
        self.assertNotIn(None, [result for _, _, result in calls], 'a call of the exe that did not return')
        taken = [result for name, _, result in calls if name == 'GetACP']
        conversions = [(words, result) for name, words, result in calls if name == 'WideCharToMultiByte']
        # Nine lines with text, each sized and then converted.
        self.assertEqual((taken, len(conversions)), ([codepage], 18))
        flags = (0, WC_ERR_INVALID_CHARS) if codepage == 65001 else (0,)
        for n, ((sizing, needed), (converting, _)) in enumerate(zip(conversions[::2], conversions[1::2]), 1):
            for words, call in ((sizing, f'sizing call {n}'), (converting, f'conversion {n}')):
                self.assertEqual(words[0], codepage, f'{call}: code page')
                self.assertIn(words[1], flags, f'{call}: dwFlags on code page {codepage}')
                self.assertEqual(words[6:], [0, 0], f'{call}: lpDefaultChar and lpUsedDefaultChar')
            self.assertEqual(sizing[4:6], [0, 0], f'sizing call {n}: lpMultiByteStr and cbMultiByte')
            self.assertEqual(converting[2:4], sizing[2:4], f'conversion {n}: lpWideCharStr and cchWideChar')
            self.assertNotEqual(converting[4], 0, f'conversion {n}: lpMultiByteStr')
            self.assertEqual(converting[5], needed, f'conversion {n}: cbMultiByte, where sizing asked for {needed}')


class Report(ReportChecks, unittest.TestCase):
    def test_the_desktops_facts_replace_a_longer_report_from_a_second_download(self):
        # A browser names the second download of a file so.
        folder = new_folder('Støtte Ærø ünï files', program='Kestrel (1).exe')
        Path(folder, 'SInfo.txt').write_bytes(b'old report\r\n' * 200)
        self.check_report(folder, program='Kestrel (1).exe')

    def test_names_in_the_code_page_fixed_at_start(self):
        # In cp932 the second byte of 表 and of ソ is 0x5C, the backslash. Czech letters that
        # cp1252 lacks are written best fit, as Windows writes them; Cyrillic ones have none.
        for locale, codepage, user, folder, shown in (
                ('ru_RU.UTF-8', 'cp1251', 'Иван', 'kestrel e2e', None),
                ('C.UTF-8', 'cp1252', 'Иван', 'kestrel e2e', None),
                ('C.UTF-8', 'cp1252', 'Jiří', 'Dvořák Ďábel', {'Jiří': 'Jirí', 'Dvořák Ďábel': 'Dvorák Dábel'}),
                ('ja_JP.UTF-8', 'cp932', '山田表ソ', '表ソ サポート', None),
                # Windows set to UTF-8: three bytes a letter, where every other code page needs two at most.
                ('ka_GE.UTF-8', 'utf-8', 'ნიკოლოზბერიძე', 'მხარდაჭერა', None),
                ('C.UTF-8', 'cp1252', 'u' * 254, 'kestrel e2e', None),
                ('C.UTF-8', 'cp1252', 'u' * 255, 'kestrel e2e', {'u' * 255: 'Unknown'})):  # too long for the query
            with self.subTest(codepage=codepage, user=user[:8], length=len(user)):
                self.check_report(new_folder(folder), user=user, codepage=codepage, env={'LC_ALL': locale},
                                  shown=shown, relay=codepage in CODE_PAGES)

    def test_started_from_the_system_directory_all_lands_beside_the_program(self):
        # As from a logon script or a scheduled task; the Run box starts in the profile.
        self.addCleanup(close_viewer)
        cwd = f'{PREFIX}/drive_c/windows/system32'
        self.check_report(new_folder(), cwd=cwd, answers=OK_OK)
        for system in (cwd, f'{PREFIX}/drive_c/windows/syswow64'):
            self.assertFalse(os.path.exists(f'{system}/SInfo.txt'))


class Display(ReportChecks, unittest.TestCase):
    """Apart, as scaling restarts the desk's Wine twice."""
    def test_a_display_scaled_to_200_percent_reports_its_own_pixels(self):
        set_log_pixels(192)
        self.addCleanup(set_log_pixels, 96)
        self.check_report(new_folder())


class Faults(unittest.TestCase):
    def test_259_characters_is_accepted(self):
        folder = folder_for_report_path(259)
        self.assertEqual(run_kestrel(folder).returncode, 0)
        self.assertEqual(*location_lines(folder, windows_path(folder).encode() + b'\\'))

    def test_260_characters_stops_with_code_3_before_touching_the_file(self):
        folder = folder_for_report_path(260)
        Path(folder, 'SInfo.txt').write_bytes(b'an older report\r\n')
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox,trace+file,+relay')
        self.assertEqual((run.returncode, box_texts(run.trace)), (3, ['Runtime error   3 at 4B000100']))
        boxes = [words for name, words, _ in own_calls(run.trace, os.path.join(folder, 'Kestrel.exe'))[1]
                 if name.startswith('MessageBox')]
        self.assertEqual([(words[0], words[3]) for words in boxes], [(0, 0)], 'MessageBoxA: hWnd, uType MB_OK')
        self.assertEqual(report(folder), b'an older report\r\n')
        self.assertEqual(trace_lines(run.trace, 'SInfo.txt'), [])

    def test_program_at_a_drive_root_reports_into_that_root(self):
        folder = new_folder()
        os.symlink(folder, f'{PREFIX}/dosdevices/k:')
        self.addCleanup(os.remove, f'{PREFIX}/dosdevices/k:')
        self.assertEqual(run_kestrel(folder, exe='K:\\Kestrel.exe').returncode, 0)
        self.assertEqual(*location_lines(folder, b'K:\\'))

    def test_program_path_past_261_characters_is_not_cut_into_another_folder(self):
        # Cut at 261 characters, it would end inside the last folder's name: the report would land above.
        parent = folder_for_report_path(150)
        run = run_kestrel(new_folder('f' * 130, parent), answers=ANSWER_ERROR, debug='-all,trace+msgbox')
        self.assertEqual((run.returncode, box_texts(run.trace)), (3, ['Runtime error   3 at 4B000100']))
        self.assertFalse(os.path.exists(os.path.join(parent, 'SInfo.txt')))

    def test_read_only_folder_gives_no_file_no_box_and_exit_0(self):
        folder = os.path.join(WORK, 'read-only')
        run = run_kestrel(folder, answers=(), debug='-all,trace+msgbox,trace+file')
        self.assertEqual((run.returncode, box_texts(run.trace)), (0, []))
        self.assertFalse(os.path.exists(os.path.join(folder, 'SInfo.txt')))
        self.assertEqual(len(trace_lines(run.trace, f'CreateFileW L"{trace_text(windows_path(folder))}\\\\SInfo')), 1)

    def test_full_disk_shows_runtime_error_112_and_exits_112(self):
        folder = os.path.join(WORK, 'full')
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox')
        self.assertEqual(run.returncode, 112)
        # Shown after the line during which the first block filled (0x4B000200 + line).
        self.assertRegex('\n'.join(box_texts(run.trace)), r'^Runtime error 112 at 4B0002(0[1-9AB])$')
        self.assertEqual(report(folder), b'')


if __name__ == '__main__':
    unittest.main()
