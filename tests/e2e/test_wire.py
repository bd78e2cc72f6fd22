"""The shipped Kelvaro.exe under Wine, met by a raw TCP peer on 127.0.0.1 (and on ::1).

Each test copies the program into a fresh folder with its own Kelvaro.ini (a free port and a
Shift-JIS name), starts it on the headless Wine prefix and checks the bytes on the wire. Every
wait is bounded; the program is always ended in tearDown.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINE = os.path.join(ROOT, "scripts", "wine.sh")
EXE = os.environ.get("KELVARO_EXE", os.path.join(ROOT, "build", "win", "Kelvaro.exe"))

START_LIMIT = 20.0  # seconds for Wine to start the program and open its port
IO_LIMIT = 10.0     # seconds for any one exchange on the wire
NAME = "北の間".encode("cp932")
CR = b"\r"


def read_file(path):
    """A file's bytes; empty when it is not there."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_exactly(sock, n, limit=IO_LIMIT):
    """Reads n bytes, or fewer if the peer closes or the time is up."""
    data = b""
    end = time.monotonic() + limit
    while len(data) < n:
        left = end - time.monotonic()
        if left <= 0:
            break
        sock.settimeout(left)
        try:
            chunk = sock.recv(n - len(data))
        except socket.timeout:
            break
        if not chunk:
            break
        data += chunk
    return data


def read_for(sock, seconds):
    """Everything that arrives within the time; None once the peer has closed."""
    data = b""
    end = time.monotonic() + seconds
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return data
        sock.settimeout(left)
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            return data
        except ConnectionResetError:
            return None
        if not chunk:
            return None if not data else data
        data += chunk


def reset(sock):
    """Closes with a reset instead of an orderly close."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    sock.close()


class KelvaroProcess:
    """One copy of the program in its own folder."""

    def __init__(self, port, name=NAME, extra=b"", folder=None):
        if folder:
            # A Kelvaro.exe already in place (unpacked from the download), run as it lies.
            self.dir, self.image = folder, "Kelvaro.exe"
        else:
            if not os.path.isfile(EXE):
                raise AssertionError("Kelvaro.exe not found at %s: build it first (make build)" % EXE)
            self.dir = tempfile.mkdtemp(prefix="kelvaro-e2e-")
            # A name of its own, so that ending it by image name reaches this copy only.
            self.image = "Kelvaro-e2e-%d-%d.exe" % (os.getpid(), port)
            shutil.copy(EXE, os.path.join(self.dir, self.image))
            for dll in ("libgcrypt-20.dll", "libgpg-error-0.dll"):  # shipped beside the program
                shutil.copy(os.path.join(os.path.dirname(EXE), dll), self.dir)
        self.ini = os.path.join(self.dir, "Kelvaro.ini")
        self.port = port
        with open(self.ini, "wb") as f:
            # Outside a network namespace of its own, no multicast: the nearby look-up stays off.
            f.write(b"[Setting]\r\nIP=127.0.0.1\r\nPort=%d\r\nName=%s\r\n" % (port, name) + extra
                    + b"[Nearby]\r\nBrowse=0\r\n")
        self.start()

    def start(self):
        env = dict(os.environ, KELVARO_WINE="test")
        # What Wine says goes to a file outside the program's folder, told when the program ends early.
        self.errors = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([WINE, self.image], cwd=self.dir, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.errors, start_new_session=True)

    def first_connection(self, host="127.0.0.1"):
        """Polls until the program accepts; the connection that got through is the first call."""
        end = time.monotonic() + START_LIMIT
        tried_again = False
        while time.monotonic() < end:
            if self.proc.poll() is not None:
                self.errors.seek(0)
                why = "Kelvaro ended at start with code %s; Wine said: %r" % (self.proc.returncode,
                                                                              self.errors.read()[-2000:])
                if tried_again:
                    raise AssertionError(why)
                # Once in many runs a start under Wine has ended at once with code 1, cause not found
                # yet: it is said on the error output and tried once more; twice fails the test.
                sys.stderr.write("note: %s; starting it once more\n" % why)
                tried_again = True
                self.start()
                continue
            try:
                return socket.create_connection((host, self.port), timeout=IO_LIMIT)
            except OSError:
                time.sleep(0.2)
        raise AssertionError("Kelvaro did not listen on port %d within %.0f s" % (self.port, START_LIMIT))

    def connect(self, host="127.0.0.1"):
        return socket.create_connection((host, self.port), timeout=IO_LIMIT)

    def running(self):
        return self.proc.poll() is None

    def end_normally(self, limit=20.0):
        """Asks the program to close its window, as the system does at log-off; True once it ended."""
        subprocess.run([WINE, "taskkill", "/im", self.image], cwd=self.dir, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=limit,
                       env=dict(os.environ, KELVARO_WINE="test"))
        try:
            self.proc.wait(timeout=limit)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)


class WireTest(unittest.TestCase):
    def setUp(self):
        self.kelvaro = KelvaroProcess(free_port())
        self.addCleanup(self.kelvaro.kill)
        self.sockets = []

    def tearDown(self):
        for s in self.sockets:
            s.close()

    def track(self, sock):
        self.sockets.append(sock)
        return sock

    def expect_greeting(self, sock):
        expected = b"a1" + NAME + CR + b"A" + NAME
        got = read_exactly(sock, len(expected))
        self.assertEqual(got, expected, "callee greeting: got %r, expected %r" % (got, expected))

    def test_greeting_carries_name_and_port_from_settings(self):
        first = self.track(self.kelvaro.first_connection())
        self.expect_greeting(first)
        extra = read_for(first, 0.5)
        self.assertEqual(extra, b"", "nothing follows the greeting until the user answers; got %r" % extra)

    def test_caller_greeting_then_busy_message_to_further_callers(self):
        first = self.track(self.kelvaro.first_connection())
        self.expect_greeting(first)
        first.sendall(b"i1north\rInorth")
        first.sendall(b"Shello\r")  # listed on the callee's side; nothing comes back
        busy = b"B" + NAME + CR
        second = self.track(self.kelvaro.connect())
        got = read_exactly(second, len(busy))
        self.assertEqual(got, busy, "second caller: got %r, expected %r" % (got, busy))
        extra = read_for(second, 0.3)
        self.assertEqual(extra, b"", "the busy connection stays open and silent; got %r" % extra)
        third = self.track(self.kelvaro.connect())
        got = read_exactly(third, len(busy))
        self.assertEqual(got, busy, "third caller: got %r, expected %r" % (got, busy))
        self.assertIsNone(read_for(second, IO_LIMIT), "the earlier busy caller is let go when the next comes")
        self.assertEqual(read_for(first, 0.3), b"", "the held call is untouched by busy callers")

    def test_hang_up_by_peer_frees_the_line(self):
        first = self.track(self.kelvaro.first_connection())
        self.expect_greeting(first)
        first.sendall(b"i1north\rInorth")
        first.close()
        # The next caller is a new call, not a busy one, once the close is handled.
        end = time.monotonic() + IO_LIMIT
        while True:
            nxt = self.track(self.kelvaro.connect())
            head = read_exactly(nxt, 1)
            if head == b"a" or time.monotonic() > end:
                break
            nxt.close()
        self.assertEqual(head, b"a", "after the caller hung up the program still answers busy")

    def test_survives_garbage_reset_and_unterminated_flood(self):
        first = self.track(self.kelvaro.first_connection())
        self.expect_greeting(first)
        junk = bytes((i * 37 + 11) % 256 for i in range(8192))
        first.sendall(junk)
        first.sendall(b"\x00\r\r\x81\r" + b"A" * 3000)
        first.close()

        second = self.track(self.connect_as_new_call())
        second.sendall(b"i1north\rInorth")
        second.sendall(b"S" + b"x" * (1024 * 1024))  # no CR
        self.assertTrue(self.kelvaro.running(), "Kelvaro ended during a 1 MiB line")
        reset(second)
        self.sockets.remove(second)

        third = self.track(self.connect_as_new_call())
        third.sendall(b"i1north\rInorth")
        time.sleep(0.3)
        # Mid-message reset.
        third.sendall(b"Shalf a li")
        reset(third)
        self.sockets.remove(third)

        fourth = self.track(self.connect_as_new_call())
        self.assertTrue(self.kelvaro.running())
        self.assertEqual(read_for(fourth, 0.3), b"")

    def connect_as_new_call(self):
        """Connects until the program greets as a new call (it is idle again)."""
        expected = b"a1" + NAME + CR + b"A" + NAME
        end = time.monotonic() + 2 * IO_LIMIT
        while time.monotonic() < end:
            self.assertTrue(self.kelvaro.running(), "Kelvaro is no longer running")
            s = self.kelvaro.connect()
            got = read_exactly(s, len(expected))
            if got == expected:
                return s
            s.close()
            time.sleep(0.2)
        self.fail("Kelvaro did not come back to idle: last greeting %r" % got)

    def test_settings_written_at_normal_end(self):
        first = self.track(self.kelvaro.first_connection())
        self.expect_greeting(first)
        self.assertTrue(self.kelvaro.end_normally(), "Kelvaro did not end when asked to close")
        # The call in progress just loses its connection: no protocol message.
        self.assertIsNone(read_for(first, IO_LIMIT), "the partner sees the connection close")
        with open(self.kelvaro.ini, "rb") as f:
            text = f.read()
        lines = text.split(b"\r\n")
        for want in (b"IP=127.0.0.1", b"Port=%d" % self.kelvaro.port, b"Name=" + NAME, b"MinStart=0"):
            self.assertIn(want, lines, "settings after the end: %r lacks %r" % (text, want))
        self.assertLess(lines.index(b"[Setting]"), lines.index(b"IP=127.0.0.1"))


def no_ipv6_loopback():
    """Why ::1 cannot be used here; None when it can."""
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
            s.listen(1)
            socket.create_connection(s.getsockname()[:2], timeout=IO_LIMIT).close()
    except OSError as e:
        return "no IPv6 loopback here: %s" % e
    return None


class WireIPv6Test(unittest.TestCase):
    def test_called_over_ipv6_greeting_then_busy_on_both_families(self):
        reason = no_ipv6_loopback()
        if reason:
            self.skipTest(reason)
        kelvaro = KelvaroProcess(free_port())
        self.addCleanup(kelvaro.kill)
        first = kelvaro.first_connection("::1")
        self.addCleanup(first.close)
        expected = b"a1" + NAME + CR + b"A" + NAME
        self.assertEqual(read_exactly(first, len(expected)), expected, "callee greeting over ::1")
        first.sendall(b"i1north\rInorth")
        busy = b"B" + NAME + CR
        for host in ("::1", "127.0.0.1"):
            caller = kelvaro.connect(host)
            self.addCleanup(caller.close)
            self.assertEqual(read_exactly(caller, len(busy)), busy, "busy message to a caller on " + host)
        self.assertEqual(read_for(first, 0.3), b"", "the held call is untouched by busy callers")


if __name__ == "__main__":
    unittest.main()
