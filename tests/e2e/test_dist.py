"""The download for Windows users, as a user meets it: unpacked into an empty folder, the
program starts there under Wine, takes its port from a Kelvaro.ini written beside it, greets
a caller and writes its settings back when it ends. Every wait is bounded.
"""
import glob
import os
import shutil
import tempfile
import unittest
import zipfile

from test_wire import CR, NAME, ROOT, KelvaroProcess, free_port, read_exactly, read_for

ZIPS = glob.glob(os.path.join(ROOT, "build", "dist", "Kelvaro-*-win64.zip"))


class DistTest(unittest.TestCase):
    def setUp(self):
        self.assertEqual(len(ZIPS), 1, "one download expected in build/dist (make dist): %r" % ZIPS)
        self.zip = ZIPS[0]
        self.dir = tempfile.mkdtemp(prefix="kelvaro-dist-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def test_holds_the_program_its_two_documents_and_the_cryptography_library(self):
        with zipfile.ZipFile(self.zip) as z:
            self.assertEqual(sorted(z.namelist()), ["Kelvaro.exe", "history.txt", "libgcrypt-20.dll",
                                                    "libgcrypt-license.txt", "libgpg-error-0.dll", "readme.txt"])
            for dll in ("libgcrypt-20.dll", "libgpg-error-0.dll"):
                with open(os.path.join(ROOT, "build", "win", dll), "rb") as f:
                    self.assertEqual(z.read(dll), f.read(), "%s differs from the one the tests ran with" % dll)
            license = z.read("libgcrypt-license.txt").decode("utf-8")
            for text in ("GNU LESSER GENERAL PUBLIC LICENSE", "Version 2.1, February 1999", "Libgcrypt",
                         "Libgpg-error", "libgcrypt-mingw-w64-dev 1.10.1"):
                self.assertTrue(text in license, "the licence text lacks %r" % text)
            for doc in ("readme.txt", "history.txt"):
                data = z.read(doc)
                with open(os.path.join(ROOT, "build", "win", doc), "rb") as f:
                    self.assertEqual(data, f.read(), "%s differs from the build's" % doc)
                self.assertNotIn(b"\n", data.replace(b"\r\n", b""), "%s has a line end other than CRLF" % doc)
                self.assertIn("Kelvaro", data.decode("cp932"))

    def test_unpacked_program_runs_in_its_own_folder(self):
        with zipfile.ZipFile(self.zip) as z:
            z.extractall(self.dir)
        port = free_port()
        kelvaro = KelvaroProcess(port, folder=self.dir)  # writes Kelvaro.ini beside it
        self.addCleanup(kelvaro.kill)
        first = kelvaro.first_connection()
        self.addCleanup(first.close)
        expected = b"a1" + NAME + CR + b"A" + NAME
        got = read_exactly(first, len(expected))
        self.assertEqual(got, expected, "greeting from the unpacked program")
        self.assertTrue(kelvaro.end_normally(), "the unpacked program did not end when asked to close")
        self.assertIsNone(read_for(first, 10.0), "the connection closes when the program ends")
        with open(kelvaro.ini, "rb") as f:
            self.assertIn(b"Port=%d" % port, f.read().split(b"\r\n"), "settings written back beside the program")
        # Beside the unpacked files: the settings written back, the identity made at the first
        # start and the log of the call.
        self.assertEqual(sorted(os.listdir(self.dir)), ["Identity.key", "Kelvaro.exe", "Kelvaro.ini", "history.txt",
                                                        "libgcrypt-20.dll", "libgcrypt-license.txt",
                                                        "libgpg-error-0.dll", "log", "readme.txt"])


if __name__ == "__main__":
    unittest.main()
