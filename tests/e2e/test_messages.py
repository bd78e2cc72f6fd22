"""The answering machine of the shipped Kelvaro.exe against a raw peer that speaks only the plain
protocol: the bytes it answers with, and Messages.txt as a kill leaves it and as it is read again.
"""
import glob
import os
import re
import signal
import time
import unittest

from test_wire import CR, IO_LIMIT, NAME, KelvaroProcess, free_port, read_exactly, read_file

GREETING = b"a1" + NAME + CR + b"A" + NAME
ANSWER = b"C\r" + b"S" + "ただいま留守にしています。メッセージをどうぞ。".encode("cp932") + CR
HEADER = rb"#\t\d{4}-\d\d-\d\d\t\d\d:\d\d:\d\d\tnorth\t127\.0\.0\.1\tplain\tnew\r\n"


class MessagesTest(unittest.TestCase):
    def setUp(self):
        self.kelvaro = KelvaroProcess(free_port(), extra=b"[Away]\r\nOn=1\r\n")
        self.addCleanup(self.kelvaro.kill)
        self.path = os.path.join(self.kelvaro.dir, "Messages.txt")

    def leave(self, sock, lines):
        """A caller of the plain protocol: its greeting, the machine's answer, then its lines."""
        self.addCleanup(sock.close)
        self.assertEqual(read_exactly(sock, len(GREETING)), GREETING)
        sock.sendall(b"i1north\rInorth")
        self.assertEqual(read_exactly(sock, len(ANSWER)), ANSWER, "the answer and the greeting, nothing else")
        sock.sendall(b"".join(b"S" + line + CR for line in lines))

    def wait_for_file(self, pattern):
        end = time.monotonic() + IO_LIMIT
        while not re.fullmatch(pattern, read_file(self.path), re.S) and time.monotonic() < end:
            time.sleep(0.1)
        self.assertRegex(read_file(self.path), re.compile(b"^" + pattern + b"$", re.S))

    def test_a_plain_caller_leaves_a_message(self):
        caller = self.kelvaro.first_connection()
        self.leave(caller, [b"one", b"two", "三".encode("cp932")])
        caller.close()
        self.wait_for_file(HEADER + b"\tone\r\n\ttwo\r\n\t" + "三".encode("cp932") + b"\r\n")
        self.assertTrue(self.kelvaro.end_normally(), "Kelvaro did not end when asked to close")
        self.assertEqual(b"", read_file(os.path.join(self.kelvaro.dir, "MissedCalls.txt")),
                         "a message is no missed call")
        self.assertIn(b"[Away]\r\nOn=1\r\n", read_file(self.kelvaro.ini), "the machine stays on")
        log = b"".join(read_file(p) for p in glob.glob(os.path.join(self.kelvaro.dir, "log", "*.txt")))
        self.assertRegex(log.decode("cp932"), "留守録で応答しました\r\n(.*\r\n)*.*受信 三\r\n.*終了 \\(相手が切りました\\)")

    def test_a_kill_keeps_every_listed_line_and_the_file_is_read_again(self):
        caller = self.kelvaro.first_connection()
        self.leave(caller, [b"one", b"two"])
        self.wait_for_file(HEADER + b"\tone\r\n\ttwo\r\n")
        os.killpg(self.kelvaro.proc.pid, signal.SIGKILL)
        self.kelvaro.proc.wait(timeout=10)
        # A line cut short, as a failing disk might leave it: kept, and never joined to what follows.
        with open(self.path, "ab") as f:
            f.write(b"\tcut")
        self.kelvaro.errors.close()
        self.kelvaro.start()
        again = self.kelvaro.first_connection()
        self.leave(again, [b"after"])
        again.close()
        self.wait_for_file(HEADER + b"\tone\r\n\ttwo\r\n\tcut\r\n" + HEADER + b"\tafter\r\n")


if __name__ == "__main__":
    unittest.main()
