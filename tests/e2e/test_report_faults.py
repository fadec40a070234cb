"""Where the report cannot go as usual, each with a real cause."""
import os
import subprocess
import tempfile
import unittest

from kestrel import ERROR, STATE, new_folder, start_wineserver, read_bytes, run_kestrel, trace_lines, trace_text, windows_path

ANSWER_ERROR = ((ERROR, 'Return'),)


def folder_for_report_path(length, base=None):
    """A folder holding Kestrel.exe whose report path, 'Z:' + folder + '\\SInfo.txt', has length characters."""
    base = base or tempfile.mkdtemp(prefix='kestrel-long-')
    needed = length - len('Z:\\SInfo.txt') - len(base) - 1
    parts = ['d' * 120] * ((needed - 1) // 121)
    folder = new_folder('e' * (needed - 121 * len(parts)), os.path.join(base, *parts))
    assert len(windows_path(folder) + '\\SInfo.txt') == length
    return folder


class MountedFolder(unittest.TestCase):
    def mounted_folder(self, size):
        folder = tempfile.mkdtemp(prefix='kestrel-mount-')
        subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={size}', 'tmpfs', folder], check=True)
        self.addCleanup(os.rmdir, folder)
        self.addCleanup(subprocess.run, ['umount', '-l', folder])
        return new_folder(os.path.basename(folder), os.path.dirname(folder))

    def test_read_only_folder_gives_no_file_no_box_and_exit_0(self):
        folder = self.mounted_folder('1m')
        subprocess.run(['mount', '-o', 'remount,ro', folder], check=True)
        start_wineserver()
        run = run_kestrel(folder, debug='-all,trace+msgbox,trace+file')
        self.assertEqual(run.returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(folder, 'SInfo.txt')))
        self.assertEqual(run.box_texts(), [])
        self.assertEqual(len(trace_lines(run.trace, f'CreateFileW L"{trace_text(windows_path(folder))}\\\\SInfo')), 1)

    def test_full_disk_shows_runtime_error_112_and_exits_112(self):
        folder = self.mounted_folder('512k')
        subprocess.run(['dd', 'if=/dev/zero', f'of={folder}/fill', 'bs=4k'], capture_output=True)
        start_wineserver()
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox')
        self.assertEqual(run.returncode, 112)
        # The first block fills during line 6, so that is where the failure shows.
        self.assertEqual(run.box_texts(), ['Runtime error 112 at 4B000206'])
        self.assertEqual(read_bytes(os.path.join(folder, 'SInfo.txt')), b'')


class ReportPath(unittest.TestCase):
    def test_259_characters_is_accepted_and_its_long_lines_cross_blocks_whole(self):
        folder = folder_for_report_path(259)
        self.assertEqual(run_kestrel(folder).returncode, 0)
        lines = read_bytes(os.path.join(folder, 'SInfo.txt')).split(b'\r\n')
        directory = windows_path(folder).encode() + b'\\'
        self.assertEqual(lines[4:7], [b'This File is ' + directory + b'SInfo.txt', b'Program: Kestrel.exe',
                                      b'Program Location: ' + directory])

    def test_260_characters_stops_with_code_3_before_touching_the_file(self):
        folder = folder_for_report_path(260)
        existing = os.path.join(folder, 'SInfo.txt')
        with open(existing, 'wb') as f:
            f.write(b'an older report\r\n')
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox,trace+file')
        self.assertEqual(run.returncode, 3)
        self.assertEqual(run.box_texts(), ['Runtime error   3 at 4B000100'])
        self.assertEqual(read_bytes(existing), b'an older report\r\n')
        self.assertEqual(trace_lines(run.trace, 'SInfo.txt'), [])

    def test_program_path_past_261_characters_is_not_cut_into_another_folder(self):
        # Cut at 261 characters, this path would end inside the last folder's
        # name, and the report would land in the folder above.
        parent = folder_for_report_path(150)
        folder = new_folder('f' * 130, parent)
        run = run_kestrel(folder, answers=ANSWER_ERROR, debug='-all,trace+msgbox')
        self.assertEqual(run.returncode, 3)
        self.assertEqual(run.box_texts(), ['Runtime error   3 at 4B000100'])
        self.assertFalse(os.path.exists(os.path.join(parent, 'SInfo.txt')))

    def test_program_at_a_drive_root_reports_into_that_root(self):
        folder = new_folder()
        drive = os.path.join(STATE['prefix'], 'dosdevices', 'k:')
        os.symlink(folder, drive)
        self.addCleanup(os.remove, drive)
        self.assertEqual(run_kestrel(folder, exe='K:\\Kestrel.exe').returncode, 0)
        lines = read_bytes(os.path.join(folder, 'SInfo.txt')).split(b'\r\n')
        self.assertEqual(lines[4:7], [b'This File is K:\\SInfo.txt', b'Program: Kestrel.exe',
                                      b'Program Location: K:\\'])


if __name__ == '__main__':
    unittest.main()
