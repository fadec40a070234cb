"""SInfo.txt as the shipped exe writes it, byte for byte against what the host says."""
import datetime
import os
import re
import unittest

from kestrel import (COMPUTER_NAME, SCREEN, UPTIME_SHIFT, new_folder, read_bytes, run_kestrel, trace_lines,
                     trace_text, windows_path)


def host_uptime():
    with open('/proc/uptime') as f:
        return float(f.read().split()[0]) + UPTIME_SHIFT


def uptime_seconds(text):
    parts = re.fullmatch(r'(?:(\d+)d )?(?:(\d+)h )?(?:(\d+)m )?(\d+)sec', text)
    return sum(int(v or 0) * unit for v, unit in zip(parts.groups(), (86400, 3600, 60, 1)))


def date_line(moment):
    return f'Today is {moment.day}/{moment.month}/{moment.year}  at: {moment.hour:02}:{moment.minute:02}'


class Report(unittest.TestCase):
    def check_report(self, folder, user='kestrel', codepage='cp1252', env=None):
        before, uptime_before = datetime.datetime.now(), host_uptime()
        run = run_kestrel(folder, env=dict(env or {}, USER=user), debug='-all,err+environ,trace+file')
        after, uptime_after = datetime.datetime.now(), host_uptime()
        self.assertEqual(run.returncode, 0)
        self.assertIn('Kestrel.exe" in experimental wow64 mode', run.trace)
        data = read_bytes(os.path.join(folder, 'SInfo.txt'))
        lines = data.decode(codepage).split('\r\n')
        self.assertIn(lines[0], {date_line(before), date_line(after)})
        uptime = lines[2].removeprefix('Windows UpTime: ')
        self.assertTrue(uptime_before - 2 <= uptime_seconds(uptime) <= uptime_after + 1, uptime)
        directory = windows_path(folder) + '\\'
        expected = [lines[0], '', f'Windows UpTime: {uptime}', '',
                    f'This File is {directory}SInfo.txt',
                    'Program: Kestrel.exe',
                    f'Program Location: {directory}',
                    f'Computer Name: {COMPUTER_NAME}',
                    f'User Name: {user}',
                    f'Screen Work Area - Top: 0 Left: 0 Bottom: {SCREEN[1]} Right: {SCREEN[0]}',
                    f'Screen Width: {SCREEN[0]} x Height: {SCREEN[1]}']
        # CR LF after every line, the last included; no byte-order or end-of-file mark.
        self.assertEqual(data, b''.join(line.encode(codepage, errors='replace') + b'\r\n' for line in expected))

        # Created or emptied, write-only, shared for reading only; then whole
        # 128-byte blocks, and the rest at the close.
        report = trace_text(directory + 'SInfo.txt')
        self.assertEqual(trace_lines(run.trace, f'CreateFileW L"{report}"'),
                         [f'CreateFileW L"{report}" GENERIC_WRITE FILE_SHARE_READ  creation 2 attributes 0x80'])
        after_create = run.trace.split(f'CreateFileW L"{report}"', 1)[1]
        handle = trace_lines(after_create, 'CreateFileW returning ')[0].split()[-1]
        sizes = [int(line.split()[3]) for line in trace_lines(after_create, f':WriteFile {handle} ')]
        self.assertEqual(sizes, [128] * (len(data) // 128) + [len(data) % 128])
        return data

    def test_the_hosts_facts_replace_a_longer_report(self):
        folder = new_folder()
        with open(os.path.join(folder, 'SInfo.txt'), 'wb') as f:
            f.write(b'old report\r\n' * 200)
        self.check_report(folder)

    def test_folder_with_spaces_and_letters_of_the_code_page(self):
        self.check_report(new_folder('Støtte Ærø ünï files'))

    def test_user_name_in_the_code_page_fixed_at_start(self):
        for locale, codepage, name in (('ru_RU.UTF-8', 'cp1251', b'\xc8\xe2\xe0\xed'), ('C.UTF-8', 'cp1252', b'????')):
            with self.subTest(codepage):
                data = self.check_report(new_folder(), user='Иван', codepage=codepage, env={'LC_ALL': locale})
                self.assertIn(b'User Name: ' + name + b'\r\n', data)


if __name__ == '__main__':
    unittest.main()
