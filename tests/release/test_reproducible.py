"""Two builds of the same sources, in two different directories, give
byte-identical programs and archives.

usage: test_reproducible.py CMAKE CPACK SOURCE_DIR [CMAKE_OPTIONS...]"""

import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

CMAKE = CPACK = SOURCE = None
OPTIONS = []


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def build(where):
    """Builds the release (programs only) in where; its programs and archive, by name, with their sums."""
    subprocess.run([CMAKE, "-S", SOURCE, "-B", where, "-DCMAKE_BUILD_TYPE=Release", "-DQUELLATORBIN_TESTS=OFF"]
                   + OPTIONS, check=True, capture_output=True, timeout=300)
    subprocess.run([CMAKE, "--build", where, "-j2"], check=True, capture_output=True, timeout=900)
    subprocess.run([CPACK, "--config", os.path.join(where, "CPackConfig.cmake"), "-B", where], check=True,
                   capture_output=True, timeout=300)
    products = [n for n in os.listdir(where)
                if n.startswith(("quellatorbin", "zarnivek")) and not n.endswith((".ini", ".cmake", ".rc", ".manifest"))]
    return {n: sha256(os.path.join(where, n)) for n in products if os.path.isfile(os.path.join(where, n))}


class Reproducible(unittest.TestCase):
    def test_two_builds_give_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory(prefix="other-place-") as second:
            a = build(os.path.join(first, "build"))
            b = build(os.path.join(second, "elsewhere", "build-two"))
        for name, digest in sorted(a.items()):
            print("%s  %s" % (digest, name))
        self.assertEqual(len(a), 3, "the program, the demo capture program and the archive")
        self.assertEqual(a, b)


if __name__ == "__main__":
    CMAKE, CPACK, SOURCE = sys.argv[1:4]
    OPTIONS = sys.argv[4:]
    del sys.argv[1:]
    unittest.main(verbosity=2)
