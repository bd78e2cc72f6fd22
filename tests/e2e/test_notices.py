"""The shipped Kelvaro.exe and the files it leaves: do-not-disturb on the wire, the missed-calls
file and the conversation log, read after the program has been killed.
"""
import glob
import os
import signal
import time
import unittest

from test_wire import CR, IO_LIMIT, NAME, KelvaroProcess, free_port, read_exactly, read_file, read_for

TIME_LEN = len(b"12:00:00 ")


class NoticesTest(unittest.TestCase):
    def start(self, extra=b""):
        self.kelvaro = KelvaroProcess(free_port(), extra=extra)
        self.addCleanup(self.kelvaro.kill)

    def records(self):
        """The log's records without their times; every line must start with one."""
        text = b"".join(read_file(p) for p in sorted(glob.glob(os.path.join(self.kelvaro.dir, "log", "*.txt"))))
        self.assertTrue(text == b"" or text.endswith(b"\r\n"), text)
        lines = text.split(b"\r\n")[:-1]
        for line in lines:
            self.assertRegex(line, rb"^\d\d:\d\d:\d\d ", "record without its time: %r" % line)
            self.assertNotIn(b"\n", line)
            self.assertNotIn(b"\r", line)
        return [line[TIME_LEN:].decode("cp932") for line in lines]

    def wait_for_record(self, record):
        end = time.monotonic() + IO_LIMIT
        while record not in self.records() and time.monotonic() < end:
            time.sleep(0.1)
        self.assertIn(record, self.records())

    def test_do_not_disturb_answers_busy_and_keeps_the_callers(self):
        self.start(extra=b"[Notice]\r\nDoNotDisturb=1\r\n")
        busy = b"B" + NAME + CR
        first = self.kelvaro.first_connection()
        self.addCleanup(first.close)
        self.assertEqual(read_exactly(first, len(busy)), busy)
        self.assertEqual(read_for(first, 0.3), b"", "the busy connection stays open and silent")
        second = self.kelvaro.connect()
        self.addCleanup(second.close)
        self.assertEqual(read_exactly(second, len(busy)), busy)
        self.assertTrue(self.kelvaro.end_normally(), "Kelvaro did not end when asked to close")
        missed = read_file(os.path.join(self.kelvaro.dir, "MissedCalls.txt")).split(b"\r\n")
        self.assertEqual(3, len(missed), missed)
        for line in missed[:2]:
            self.assertRegex(line, rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tdnd\t127\.0\.0\.1\t$")
        self.assertIn(b"[Notice]\r\nDoNotDisturb=1\r\n", read_file(self.kelvaro.ini), "the option stays saved")
        self.assertEqual(["応答しない設定のため断りました 127.0.0.1"] * 2, self.records())

    def test_log_is_written_as_it_happens_and_survives_a_kill(self):
        self.start()
        caller = self.kelvaro.first_connection()
        self.addCleanup(caller.close)
        greeting = b"a1" + NAME + CR + b"A" + NAME
        self.assertEqual(read_exactly(caller, len(greeting)), greeting)
        caller.sendall(b"i1north\rInorth")
        caller.sendall(b"Shello\rStab\there\rS\x82\rS" + "電話".encode("cp932") + b"\r")
        self.wait_for_record("受信 電話")
        caller.close()
        self.wait_for_record("不在着信 (応答する前に相手が切りました)")
        # The missed call is saved right after its record: the kill waits for it (bounded).
        missed_path = os.path.join(self.kelvaro.dir, "MissedCalls.txt")
        end = time.monotonic() + IO_LIMIT
        while b"unanswered" not in read_file(missed_path) and time.monotonic() < end:
            time.sleep(0.1)
        os.killpg(self.kelvaro.proc.pid, signal.SIGKILL)
        self.kelvaro.proc.wait(timeout=10)
        # A line before any commitment makes the call plain, and the log says so first.
        self.assertEqual(["着信 127.0.0.1", "相手 north (127.0.0.1)", "暗号化なし", "受信 hello", "受信 tab\\there",
                          "受信 \\x82", "受信 電話", "不在着信 (応答する前に相手が切りました)"], self.records())
        missed = read_file(missed_path)
        self.assertRegex(missed, rb"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tunanswered\t127\.0\.0\.1\tnorth\r\n$")


if __name__ == "__main__":
    unittest.main()
