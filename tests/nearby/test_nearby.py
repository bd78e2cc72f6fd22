"""Nearby over multicast DNS, run by scripts/nearby_test.sh inside a private network namespace:
the shipped Kelvaro.exe met by Debian's python3-zeroconf and by a second copy. The windows are
read and driven through nearby_driver.exe in the same wineserver. Every wait is bounded.
"""
import hashlib
import os
import re
import select
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from zeroconf import ServiceBrowser, ServiceInfo, ServiceStateChange, Zeroconf

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINE = os.path.join(ROOT, "scripts", "wine.sh")
EXE = os.path.join(ROOT, "build", "win", "Kelvaro.exe")
DRIVER = os.path.join(ROOT, "build", "win", "nearby_driver.exe")
SERVICE = "_kelvaro._tcp.local."
LIMIT = 20.0  # seconds for Wine to start a program
ID_NEARBY_ANNOUNCE, ID_CALL, ID_ANSWER, ID_REGISTER = 32796, 1002, 1005, 1016


def setUpModule():
    names = [name for _, name in socket.if_nameindex()]
    if names != ["lo"]:
        raise AssertionError("not inside a private network namespace (interfaces %r): run scripts/nearby_test.sh"
                             % names)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, check, limit=LIMIT):
    """Polls check() until it returns something true; that value, or a failure after limit seconds."""
    end = time.monotonic() + limit
    while time.monotonic() < end:
        got = check()
        if got:
            return got
        time.sleep(0.05)
    raise AssertionError("%s: not within %.1f s" % (what, limit))


class Kelvaro:
    """One copy in its own folder, announcing under its name."""

    def __init__(self, name, announce=True):
        self.name, self.port = name, free_port()
        self.dir = tempfile.mkdtemp(prefix="kelvaro-nearby-")
        self.image = "Kelvaro-nearby-%d.exe" % self.port
        shutil.copy(EXE, os.path.join(self.dir, self.image))
        for dll in ("libgcrypt-20.dll", "libgpg-error-0.dll"):
            shutil.copy(os.path.join(os.path.dirname(EXE), dll), self.dir)
        with open(os.path.join(self.dir, "Kelvaro.ini"), "wb") as f:
            f.write(b"[Setting]\r\nIP=127.0.0.1\r\nPort=%d\r\nName=%s\r\n[Nearby]\r\nAnnounce=%d\r\n"
                    % (self.port, name.encode("cp932"), int(announce)))
        self.proc = subprocess.Popen([WINE, self.image], cwd=self.dir, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)


class Driver:
    """nearby_driver.exe: one command line in, one answer line out."""

    def __init__(self):
        self.proc = subprocess.Popen([WINE, DRIVER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, start_new_session=True)

    def ask(self, *words):
        self.proc.stdin.write((" ".join(str(w) for w in words) + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        ready, _, _ = select.select([self.proc.stdout], [], [], LIMIT)
        if not ready:
            raise AssertionError("the driver did not answer %r" % (words,))
        return self.proc.stdout.readline().decode("utf-8").rstrip("\r\n")

    def items(self, name):
        answer = self.ask("items", name)
        return None if answer == "none" else answer.split("\t")

    def stop(self):
        self.proc.stdin.close()
        self.proc.stdout.close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class NearbyCase(unittest.TestCase):
    """A driver of the windows' lists, and copies and zeroconf peers that end with the test."""

    def setUp(self):
        self.driver = Driver()
        self.addCleanup(self.driver.stop)

    def start(self, name, announce=True):
        copy = Kelvaro(name, announce)
        self.addCleanup(copy.stop)
        wait_for("the window of %s" % name, lambda: self.driver.items(name))
        return copy

    def zeroconf(self):
        zc = Zeroconf(interfaces=["127.0.0.1"])
        self.addCleanup(zc.close)
        return zc


class NearbyTest(NearbyCase):
    def test_zeroconf_finds_kelvaro_and_sees_its_goodbye(self):
        copy = self.start("北の間")
        zc, events = self.zeroconf(), []
        ServiceBrowser(zc, SERVICE, handlers=[lambda zeroconf, service_type, name, state_change:
                                              events.append((name, state_change))])
        full = "北の間." + SERVICE
        wait_for("zeroconf finds Kelvaro", lambda: (full, ServiceStateChange.Added) in events)
        info = zc.get_service_info(SERVICE, full, timeout=3000)
        self.assertIsNotNone(info)
        self.assertEqual(copy.port, info.port)
        # The fingerprint is SHA-256 of the identity's public key, as its file beside the copy holds it.
        with open(os.path.join(copy.dir, "Identity.key"), "rb") as f:
            public = re.search(rb"^public ([0-9a-f]{64})\r$", f.read(), re.M).group(1)
        fingerprint = hashlib.sha256(bytes.fromhex(public.decode())).hexdigest().encode()
        self.assertEqual({b"txtvers": b"1", b"secure": b"2", b"fp": fingerprint}, info.properties)
        self.assertIn("127.0.0.1", info.parsed_addresses())
        # Bad packets on the group change nothing.
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
            for packet in (b"\0" * 5, b"\0\0\x84\0\0\0\xff\xff\0\0\0\0", b"\0\0\0\0\0\1\0\0\0\0\0\0\xc0\x0c\0\1\0\1",
                           b"\0\0\x84\0\0\0\0\1\0\0\0\0" + b"\x3f" + b"x" * 63 + b"\xc0\x0c"):
                s.sendto(packet, ("224.0.0.251", 5353))
        self.assertEqual(["IPアドレス指定"], self.driver.items("北の間"), "not listed among its own peers")
        self.driver.ask("command", "北の間", ID_NEARBY_ANNOUNCE)
        start = time.monotonic()
        wait_for("the goodbye reaches zeroconf", lambda: (full, ServiceStateChange.Removed) in events, 2.0)
        print("\nKelvaro's goodbye seen by zeroconf after %.2f s" % (time.monotonic() - start))
        # On again, then the program ends: its goodbye goes out as it closes.
        events.clear()
        self.driver.ask("command", "北の間", ID_NEARBY_ANNOUNCE)
        wait_for("announced again", lambda: (full, ServiceStateChange.Added) in events, 5.0)
        subprocess.run([WINE, "taskkill", "/im", copy.image], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=LIMIT)
        wait_for("the goodbye at the end", lambda: (full, ServiceStateChange.Removed) in events, 5.0)

    def test_kelvaro_lists_a_zeroconf_service_and_drops_it_on_goodbye(self):
        self.start("北の間", announce=False)
        zc = self.zeroconf()
        # "한" has no Shift-JIS form: it is shown replaced, not dropped.
        info = ServiceInfo(SERVICE, "ゼロ한." + SERVICE, port=4321, addresses=[socket.inet_aton("127.0.0.1")],
                           properties={"txtvers": "1"}, server="zero.local.")
        asked = time.monotonic()
        zc.register_service(info)  # returns once zeroconf has probed and announced
        start = time.monotonic()
        wait_for("Kelvaro lists ゼロ", lambda: "ゼロ? (近く)" in (self.driver.items("北の間") or []), 2.0)
        print("\nzeroconf's service listed %.2f s after its announcement (%.2f s after registering began)"
              % (time.monotonic() - start, time.monotonic() - asked))
        self.assertEqual(["IPアドレス指定", "ゼロ? (近く)"], self.driver.items("北の間"))
        self.driver.ask("select", "北の間", 1)
        self.assertEqual("127.0.0.1\t4321\tゼロ?", self.driver.ask("fields", "北の間"))
        # Stored under its name, before the nearby entries; the chosen entry stays chosen.
        self.driver.ask("click", "北の間", ID_REGISTER)
        self.assertEqual(["IPアドレス指定", "ゼロ?", "ゼロ? (近く)"], self.driver.items("北の間"))
        self.driver.ask("select", "北の間", 0)
        start = time.monotonic()
        zc.unregister_service(info)
        wait_for("Kelvaro drops ゼロ", lambda: self.driver.items("北の間") == ["IPアドレス指定", "ゼロ?"], 2.0)
        print("zeroconf's service gone %.2f s after its goodbye began" % (time.monotonic() - start))

    def test_a_name_taken_is_announced_with_a_number(self):
        zc, events = self.zeroconf(), []
        zc.register_service(ServiceInfo(SERVICE, "北の間." + SERVICE, port=4321, server="zero.local.",
                                        addresses=[socket.inet_aton("127.0.0.1")]))
        ServiceBrowser(zc, SERVICE, handlers=[lambda zeroconf, service_type, name, state_change:
                                              events.append((name, state_change))])
        self.start("北の間")
        wait_for("Kelvaro renamed", lambda: ("北の間 (2)." + SERVICE, ServiceStateChange.Added) in events)
        wait_for("the holder of the name listed",
                 lambda: self.driver.items("北の間") == ["IPアドレス指定", "北の間 (近く)"], 2.0)

    def test_two_copies_see_each_other_and_one_calls_the_other(self):
        self.start("北の間")
        south = self.start("南の間")
        start = time.monotonic()  # south probes for 0.75 s, then announces
        wait_for("north lists south", lambda: self.driver.items("北の間") == ["IPアドレス指定", "南の間 (近く)"], 2.75)
        print("\nsouth listed by north %.2f s after its window came up" % (time.monotonic() - start))
        wait_for("south lists north", lambda: self.driver.items("南の間") == ["IPアドレス指定", "北の間 (近く)"])
        self.driver.ask("select", "北の間", 1)
        self.assertEqual("127.0.0.1\t%d\t南の間" % south.port, self.driver.ask("fields", "北の間"))
        self.driver.ask("click", "北の間", ID_CALL)
        wait_for("south rings", lambda: self.driver.ask("enabled", "南の間", ID_ANSWER) == "1", 10.0)
        # South stops announcing: its goodbye takes effect after a second; the entry chosen on
        # north stays until north chooses another.
        self.driver.ask("command", "南の間", ID_NEARBY_ANNOUNCE)
        time.sleep(1.5)
        self.assertEqual(["IPアドレス指定", "南の間 (近く)"], self.driver.items("北の間"))
        self.assertEqual("127.0.0.1\t%d\t南の間" % south.port, self.driver.ask("fields", "北の間"))
        self.driver.ask("select", "北の間", 0)
        self.assertEqual(["IPアドレス指定"], self.driver.items("北の間"))


if __name__ == "__main__":
    unittest.main()
