"""The release package: cpack makes a ZIP that holds the program, the sample
settings file, the README and the licence, and nothing else.

usage: test_release_zip.py CPACK BUILD_DIR SOURCE_DIR"""

import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

CPACK = BUILD = SOURCE = None


class Release(unittest.TestCase):
    def test_zip_holds_program_settings_readme_and_license(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([CPACK, "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                           check=True, capture_output=True, timeout=100)
            zips = [n for n in os.listdir(out) if n.endswith(".zip")]
            self.assertEqual(zips, ["quellatorbin-0.05-win32.zip"])
            with zipfile.ZipFile(os.path.join(out, zips[0])) as z:
                files = {n: z.read(n) for n in z.namelist() if not n.endswith("/")}
        top = "quellatorbin-0.05-win32/"
        want = {
            top + "quellatorbin.exe": os.path.join(BUILD, "quellatorbin.exe"),
            top + "quellatorbin.ini": os.path.join(SOURCE, "quellatorbin.ini"),
            top + "README.md": os.path.join(SOURCE, "README.md"),
            top + "LICENSE": os.path.join(SOURCE, "LICENSE"),
        }
        self.assertEqual(sorted(files), sorted(want))
        for name, path in want.items():
            with open(path, "rb") as f:
                self.assertEqual(files[name], f.read(), name)


if __name__ == "__main__":
    CPACK, BUILD, SOURCE = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
