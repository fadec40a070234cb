"""SInfo.txt written by the real program, checked against what the host says."""
import datetime
import os
import re
import unittest

from kestrel import (COMPUTER_NAME, SCREEN_HEIGHT, SCREEN_WIDTH, new_folder, read_bytes, run_kestrel, trace_lines,
                     trace_text, windows_path)


def host_uptime():
    with open('/proc/uptime') as f:
        return float(f.read().split()[0])


def uptime_seconds(text):
    units = {'d': 86400, 'h': 3600, 'm': 60, 'sec': 1}
    parts = re.fullmatch(r'(?:(\d+)d )?(?:(\d+)h )?(?:(\d+)m )?(\d+)sec', text)
    assert parts, text
    return sum(int(v) * units[u] for v, u in zip(parts.groups(), ('d', 'h', 'm', 'sec')) if v is not None)


def date_line(moment):
    return f'Today is {moment.day}/{moment.month}/{moment.year}  at: {moment.hour:02}:{moment.minute:02}'


def expected_lines(folder, user, uptime_text, date_text):
    directory = windows_path(folder) + '\\'
    return [
        date_text, '', f'Windows UpTime: {uptime_text}', '',
        f'This File is {directory}SInfo.txt',
        'Program: Kestrel.exe',
        f'Program Location: {directory}',
        f'Computer Name: {COMPUTER_NAME}',
        f'User Name: {user}',
        f'Screen Work Area - Top: 0 Left: 0 Bottom: {SCREEN_HEIGHT} Right: {SCREEN_WIDTH}',
        f'Screen Width: {SCREEN_WIDTH} x Height: {SCREEN_HEIGHT}',
    ]


class ReportMatchesHost(unittest.TestCase):
    def check_report(self, folder, user='kestrel', codepage='cp1252', env=None):
        before, uptime_before = datetime.datetime.now(), host_uptime()
        run = run_kestrel(folder, env=dict(env or {}, USER=user), debug='-all,trace+file')
        after, uptime_after = datetime.datetime.now(), host_uptime()
        self.assertEqual(run.returncode, 0)
        data = read_bytes(os.path.join(folder, 'SInfo.txt'))
        self.assertTrue(data.endswith(b'\r\n'))
        self.assertNotIn(b'\x1a', data)
        self.assertFalse(data.startswith(b'\xef\xbb\xbf'))
        lines = data.split(b'\r\n')[:-1]
        self.assertEqual(len(lines), 11, data)

        uptime_text = lines[2].decode('ascii').removeprefix('Windows UpTime: ')
        self.assertTrue(uptime_before - 2 <= uptime_seconds(uptime_text) <= uptime_after + 1,
                        (uptime_before, uptime_text, uptime_after))
        date_text = lines[0].decode('ascii')
        self.assertIn(date_text, {date_line(before), date_line(after)})

        expected = expected_lines(folder, user, uptime_text, date_text)
        self.assertEqual(data, b''.join(line.encode(codepage, errors='replace') + b'\r\n' for line in expected))

        # Created or emptied, write-only, shared for reading only.
        report = trace_text(windows_path(folder) + '\\SInfo.txt')
        self.assertEqual(trace_lines(run.trace, f'CreateFileW L"{report}"'),
                         [f'CreateFileW L"{report}" GENERIC_WRITE FILE_SHARE_READ  creation 2 attributes 0x80'])
        # Whole 128-byte blocks, then the rest at the close.
        after_create = run.trace.split(f'CreateFileW L"{report}"', 1)[1]
        handle = trace_lines(after_create, 'CreateFileW returning ')[0].split()[-1]
        sizes = [int(line.split()[3]) for line in trace_lines(after_create, f':WriteFile {handle} ')]
        self.assertEqual(sizes, [128] * (len(data) // 128) + [len(data) % 128])
        return data

    def test_report_is_the_hosts_facts_and_replaces_a_longer_one(self):
        folder = new_folder()
        with open(os.path.join(folder, 'SInfo.txt'), 'wb') as f:
            f.write(b'old report\r\n' * 200)
        self.check_report(folder)

    def test_folder_with_spaces_and_non_ascii_letters(self):
        data = self.check_report(new_folder('Støtte Ærø ünï files'))
        self.assertIn('Støtte Ærø ünï files\\SInfo.txt'.encode('cp1252'), data)

    def test_cyrillic_user_name_in_code_page_1251(self):
        data = self.check_report(new_folder(), user='Иван', codepage='cp1251', env={'LC_ALL': 'ru_RU.UTF-8'})
        self.assertIn(b'User Name: \xc8\xe2\xe0\xed\r\n', data)

    def test_cyrillic_user_name_in_code_page_1252(self):
        data = self.check_report(new_folder(), user='Иван')
        self.assertIn(b'User Name: ????\r\n', data)


if __name__ == '__main__':
    unittest.main()
