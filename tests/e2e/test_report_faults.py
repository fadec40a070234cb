"""What the user sees when the report cannot be written, each with a real cause."""
import os
import subprocess
import tempfile
import unittest

from kestrel import (ERROR_CAPTION, STATE, copy_kestrel, new_folder, read_bytes, run_kestrel, trace_lines, trace_text,
                     windows_path)

ANSWER_ERROR = ((ERROR_CAPTION, 'Return'),)


def folder_for_report_path(length):
    """A folder holding Kestrel.exe whose report path is length characters long."""
    base = tempfile.mkdtemp(prefix='kestrel-long-')
    # 'Z:' + the folder + '\SInfo.txt'
    needed = length - len('Z:') - len('\\SInfo.txt') - len(base)
    parts = []
    while needed > 0:
        part = min(needed - 1, 120)
        if needed - 1 - part == 1:  # avoid a leftover that only fits a bare '/'
            part -= 1
        parts.append('d' * part)
        needed -= part + 1
    folder = os.path.join(base, *parts)
    os.makedirs(folder)
    copy_kestrel(folder)
    report = windows_path(folder) + '\\SInfo.txt'
    assert len(report) == length, (len(report), length)
    return folder, report


class MountedFolder(unittest.TestCase):
    def mounted_folder(self, size):
        folder = tempfile.mkdtemp(prefix='kestrel-mount-')
        subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={size}', 'tmpfs', folder], check=True)
        self.addCleanup(os.rmdir, folder)
        self.addCleanup(subprocess.run, ['umount', '-l', folder], check=False)
        copy_kestrel(folder)
        return folder

    def test_read_only_folder_gives_no_file_no_box_and_exit_0(self):
        folder = self.mounted_folder('1m')
        subprocess.run(['mount', '-o', 'remount,ro', folder], check=True)
        run = run_kestrel(folder, debug='-all,trace+msgbox,trace+file')
        self.assertEqual(run.returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(folder, 'SInfo.txt')))
        self.assertEqual(run.box_texts(), [])
        self.assertEqual(len(trace_lines(run.trace, 'CreateFileW L"' + trace_text(windows_path(folder)))), 1)

    def test_full_disk_shows_runtime_error_112_and_exits_112(self):
        folder = self.mounted_folder('512k')
        subprocess.run(['dd', 'if=/dev/zero', f'of={folder}/fill', 'bs=4k'], capture_output=True)
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox')
        self.assertEqual(run.returncode, 112)
        self.assertEqual([box.caption for box in run.boxes], [ERROR_CAPTION])
        # The first block fills during line 6, so that is where the failure shows.
        self.assertEqual(run.box_texts(), ['Runtime error 112 at 4B000206'])
        self.assertEqual(read_bytes(os.path.join(folder, 'SInfo.txt')), b'')


class ReportPathLength(unittest.TestCase):
    def test_259_characters_is_accepted(self):
        folder, report = folder_for_report_path(259)
        run = run_kestrel(folder)
        self.assertEqual(run.returncode, 0)
        lines = read_bytes(os.path.join(folder, 'SInfo.txt')).split(b'\r\n')
        self.assertEqual(lines[4], b'This File is ' + report.encode())
        # The program's own path is longer than 260 characters and must come whole.
        self.assertEqual(lines[5], b'Program: Kestrel.exe')

    def test_260_characters_stops_with_code_3_before_touching_the_file(self):
        folder, report = folder_for_report_path(260)
        existing = os.path.join(folder, 'SInfo.txt')
        with open(existing, 'wb') as f:
            f.write(b'an older report\r\n')
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox,trace+file')
        self.assertEqual(run.returncode, 3)
        self.assertEqual(run.box_texts(), ['Runtime error   3 at 4B000100'])
        self.assertEqual(read_bytes(existing), b'an older report\r\n')
        self.assertEqual(trace_lines(run.trace, 'SInfo.txt'), [])

    def test_program_path_past_261_characters_is_not_cut_into_another_folder(self):
        # Cut at 261 characters, this path would end inside its last folder's
        # name and so name the folder above it.
        parent, _ = folder_for_report_path(150)
        folder = os.path.join(parent, 'e' * 130)
        os.makedirs(folder)
        copy_kestrel(folder)
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox')
        self.assertEqual(run.returncode, 3)
        self.assertEqual(run.box_texts(), ['Runtime error   3 at 4B000100'])
        self.assertFalse(os.path.exists(os.path.join(parent, 'SInfo.txt')))


class DriveRoot(unittest.TestCase):
    def test_program_at_a_drive_root_reports_into_that_root(self):
        folder = new_folder()
        drive = os.path.join(STATE['prefix'], 'dosdevices', 'k:')
        os.symlink(folder, drive)
        self.addCleanup(os.remove, drive)
        run = run_kestrel(folder, exe='K:\\Kestrel.exe')
        self.assertEqual(run.returncode, 0)
        lines = read_bytes(os.path.join(folder, 'SInfo.txt')).split(b'\r\n')
        self.assertEqual(lines[4:7], [b'This File is K:\\SInfo.txt', b'Program: Kestrel.exe',
                                      b'Program Location: K:\\'])


if __name__ == '__main__':
    unittest.main()
