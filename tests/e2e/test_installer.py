"""The installer as a user meets it, in a Wine prefix of the test's own: a silent install puts
the program, the Start-menu shortcut and the uninstall entry in place; the installed program
starts in the tray and listens, a second start brings it forward and ends; the menu item writes
and removes the start-at-logon value; an install over a running copy is refused; installing again
keeps the settings; a silent uninstall removes the program and its entries and keeps the user's
files. Every wait is bounded; the prefix and its Wine server go at the end.
"""
import glob
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from test_wire import ROOT, free_port, read_exactly

SETUPS = glob.glob(os.path.join(ROOT, "build", "dist", "Kelvaro-*-setup.exe"))
PROBE = os.path.join(ROOT, "build", "win", "window_probe.exe")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvaro"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
LIMIT = 60.0  # seconds for any one Wine step (an install, a start, an uninstall)
ID_START_WITH_WINDOWS = 32799
PROGRAM_FILES = ["Kelvaro.exe", "Uninstall.exe", "history.txt", "libgcrypt-20.dll", "libgcrypt-license.txt",
                 "libgpg-error-0.dll", "readme.txt"]
USER_FILES = ["Contacts.txt", "Identity.key", "Kelvaro.ini", "Messages.txt", "MissedCalls.txt", "log"]


def wait_until(check, limit=LIMIT, step=0.2):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if check():
            return True
        time.sleep(step)
    return check()


class InstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if len(SETUPS) != 1:
            raise AssertionError("one installer expected in build/dist (make dist): %r" % SETUPS)
        cls.setup = SETUPS[0]
        cls.version = os.path.basename(cls.setup)[len("Kelvaro-"):-len("-setup.exe")]
        cls.prefix = tempfile.mkdtemp(prefix="kelvaro-install-")
        cls.env = dict(os.environ, WINEPREFIX=cls.prefix, WINEDEBUG="-all", LANG="ja_JP.UTF-8",
                       LC_ALL="ja_JP.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        subprocess.run(["bash", "-c", 'source "$1/scripts/wine_prefix.sh" && make_prefix "$2" null', "-",
                        ROOT, cls.prefix], check=True, timeout=300, stdout=subprocess.DEVNULL)
        # The server and the desktop's helper processes started apart: started by a Wine command
        # whose output is read, they would hold that pipe open and stall the read.
        subprocess.run([WINESERVER, "-p"], env=cls.env, timeout=LIMIT, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([WINE, PROBE, "list"], env=cls.env, timeout=LIMIT, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        users = [d for d in glob.glob(os.path.join(cls.prefix, "drive_c", "users", "*")) if
                 os.path.basename(d) != "Public"]
        assert len(users) == 1, users
        cls.user = os.path.basename(users[0])
        cls.folder = os.path.join(users[0], "AppData", "Local", "Programs", "Kelvaro")
        cls.win_folder = "C:\\users\\%s\\AppData\\Local\\Programs\\Kelvaro" % cls.user
        cls.shortcut = os.path.join(users[0], "AppData", "Roaming", "Microsoft", "Windows", "Start Menu",
                                    "Programs", "Kelvaro.lnk")
        cls.first = None
        started = time.monotonic()
        cls.install_result = cls.wine([cls.setup, "/S"])
        sys.stderr.write("\ninstaller %d bytes; silent install %.1f s under Wine\n"
                         % (os.path.getsize(cls.setup), time.monotonic() - started))

    @classmethod
    def tearDownClass(cls):
        if cls.first and cls.first.poll() is None:
            cls.first.kill()
        subprocess.run([WINESERVER, "-k"], env=cls.env, timeout=LIMIT)
        shutil.rmtree(cls.prefix, ignore_errors=True)

    @classmethod
    def wine(cls, args):
        return subprocess.run([WINE] + args, env=cls.env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=LIMIT)

    def reg_values(self, key):
        """The values of a key as {name: data}; None when the key is missing."""
        r = self.wine(["reg", "query", key])
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2] if len(parts) == 3 else ""
        return values

    def windows(self):
        r = self.wine([PROBE, "list"])
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode().split()

    def test_1_silent_install_puts_files_shortcut_and_uninstall_entry(self):
        self.assertEqual(self.install_result.returncode, 0, self.install_result.stderr)
        self.assertEqual(sorted(os.listdir(self.folder)), PROGRAM_FILES)
        self.assertTrue(os.path.isfile(self.shortcut), "Start-menu shortcut")
        values = self.reg_values(UNINSTALL_KEY)
        exe, uninstaller = self.win_folder + "\\Kelvaro.exe", self.win_folder + "\\Uninstall.exe"
        self.assertEqual({k: v for k, v in values.items() if k != "EstimatedSize"}, {
            "DisplayName": "Kelvaro", "DisplayVersion": self.version, "Publisher": "Kelvaro Project",
            "DisplayIcon": exe + ",0", "InstallLocation": self.win_folder,
            "UninstallString": '"%s"' % uninstaller, "QuietUninstallString": '"%s" /S' % uninstaller,
            "NoModify": "0x1", "NoRepair": "0x1"})
        # In KiB: the program, its two DLLs and the documents come to well over 1 MiB.
        self.assertGreater(int(values["EstimatedSize"], 16), 1024)

    def test_2_one_copy_started_in_the_tray_at_logon_and_no_install_over_it(self):
        port = free_port()
        with open(os.path.join(self.folder, "Kelvaro.ini"), "wb") as f:
            f.write(b"[Setting]\r\nIP=127.0.0.1\r\nPort=%d\r\nName=Tray\r\n[Nearby]\r\nBrowse=0\r\n" % port)
        exe = self.win_folder + "\\Kelvaro.exe"
        type(self).first = subprocess.Popen([WINE, exe, "/tray"], env=self.env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(lambda: self.windows() != []), "the program's window did not appear")
        self.assertEqual(self.windows(), ["hidden"], "started with /tray, the window stays in the tray")

        second = self.wine([exe])
        self.assertEqual(second.returncode, 0, "the second start ends at once, without a box")
        self.assertTrue(wait_until(lambda: self.windows() == ["visible"], 10.0),
                        "one window, brought forward: %r" % self.windows())
        self.assertIsNone(self.first.poll(), "the first copy runs on")

        with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
            self.assertEqual(read_exactly(s, 2), b"a1", "the installed program answers a call")

        # Start with Windows: the quoted path of this program and the switch.
        self.assertEqual(self.wine([PROBE, "command", str(ID_START_WITH_WINDOWS)]).returncode, 0)
        self.assertEqual(self.reg_values(RUN_KEY).get("Kelvaro"), '"%s" /tray' % exe)

        refused = self.wine([self.setup, "/S"])
        self.assertEqual(refused.returncode, 2, "a silent install over a running copy fails")
        self.assertIn(b"Kelvaro is running from", refused.stderr)

        self.wine(["taskkill", "/im", "Kelvaro.exe"])
        self.assertTrue(wait_until(lambda: self.first.poll() is not None), "the program did not end")

        # Wine's session start runs the Run values as a logon does: the program comes up in the tray.
        subprocess.run([WINE, "wineboot"], env=self.env, timeout=LIMIT, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(lambda: self.windows() == ["hidden"]), "not started at logon, or shown")
        self.assertEqual(self.wine([PROBE, "command", str(ID_START_WITH_WINDOWS)]).returncode, 0)
        self.assertNotIn("Kelvaro", self.reg_values(RUN_KEY) or {}, "turned off, the value goes")
        self.wine(["taskkill", "/im", "Kelvaro.exe"])
        self.assertTrue(wait_until(lambda: self.windows() == []), "the program started at logon did not end")

    def test_3_install_again_keeps_user_files_and_uninstall_leaves_only_them(self):
        ini = os.path.join(self.folder, "Kelvaro.ini")
        with open(ini, "wb") as f:
            f.write(b"[Setting]\r\nName=Changed\r\n")
        os.makedirs(os.path.join(self.folder, "log"), exist_ok=True)
        for name in ("Contacts.txt", "Identity.key", "Messages.txt", "MissedCalls.txt", "log/2026-12-08.txt"):
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(b"kept")
        again = self.wine([self.setup, "/S"])
        self.assertEqual(again.returncode, 0, again.stderr)
        with open(ini, "rb") as f:
            self.assertEqual(f.read(), b"[Setting]\r\nName=Changed\r\n")
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(PROGRAM_FILES + USER_FILES))

        # Started at logon, then uninstalled: the entry must not outlive the program.
        exe = self.win_folder + "\\Kelvaro.exe"
        self.wine(["reg", "add", RUN_KEY, "/v", "Kelvaro", "/d", '"%s" /tray' % exe, "/f"])
        started = time.monotonic()
        # As "Apps" runs it: the uninstaller copies itself away and removes the folder's copy.
        self.assertEqual(self.wine([self.win_folder + "\\Uninstall.exe", "/S"]).returncode, 0)
        self.assertTrue(wait_until(lambda: self.reg_values(UNINSTALL_KEY) is None
                                   and not os.path.exists(os.path.join(self.folder, "Uninstall.exe"))),
                        "the uninstaller did not finish")
        sys.stderr.write("silent uninstall %.1f s under Wine\n" % (time.monotonic() - started))
        self.assertEqual(sorted(os.listdir(self.folder)), USER_FILES)
        self.assertEqual(sorted(os.listdir(os.path.join(self.folder, "log"))), ["2026-12-08.txt"])
        self.assertFalse(os.path.exists(self.shortcut), "the shortcut is removed")
        self.assertNotIn("Kelvaro", self.reg_values(RUN_KEY) or {})


if __name__ == "__main__":
    unittest.main()
