"""The bounded wait: a systeminfo that outlives 55.5 s does not hold up the
second box. Slow by nature (about 70 s)."""
import os
import subprocess
import unittest

from kestrel import PROMPT_CAPTION, new_folder, read_bytes, run_kestrel
from test_followup import DOUBLE_OUTPUT, SYSTEM_DOUBLE_MARKER

DOUBLE_DONE = SYSTEM_DOUBLE_MARKER.replace('.ran', '.done')


class BoundedWait(unittest.TestCase):
    def test_second_box_appears_after_55_5_s_while_systeminfo_still_runs(self):
        for marker in (SYSTEM_DOUBLE_MARKER, DOUBLE_DONE):
            if os.path.exists(marker):
                os.remove(marker)
        self.addCleanup(subprocess.run, ['pkill', '-f', 'systeminfo.exe'], check=False)
        still_running = []
        folder = new_folder()
        run = run_kestrel(folder, answers=((PROMPT_CAPTION, 'OK'), (PROMPT_CAPTION, 'Cancel')), box_timeout=75,
                          env={'KESTREL_DOUBLE_SLEEP_MS': '70000'},
                          on_box=lambda window, box: still_running.append(not os.path.exists(DOUBLE_DONE)))
        self.assertEqual(run.returncode, 0)
        self.assertEqual(len(run.boxes), 2)
        waited = run.boxes[1].shown_at - run.boxes[0].answered_at
        self.assertGreaterEqual(waited, 55.0)
        self.assertLessEqual(waited, 58.0)
        self.assertTrue(os.path.exists(SYSTEM_DOUBLE_MARKER))
        self.assertEqual(still_running, [True, True])
        # The double printed before it slept: its lines are already in the report.
        self.assertTrue(read_bytes(os.path.join(folder, 'SInfo.txt')).endswith(DOUBLE_OUTPUT))


if __name__ == '__main__':
    unittest.main()
