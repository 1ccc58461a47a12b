"""Holds the Linux build's command-line splitter to the Windows C runtime: every
command text of a corpus is split by both (the Windows argv_probe under Wine,
the Linux argv_probe natively), and the words must be the same.

usage: test_cmdline_diff.py WINE_RUN WINDOWS_PROBE LINUX_PROBE"""

import os
import random
import subprocess
import sys
import tempfile
import unittest

WINE_RUN = WINDOWS_PROBE = LINUX_PROBE = None

# Quotes, backslashes before quotes, blanks, tabs, '%', '$' and bytes above
# 127 (in the Windows code page 1252, which Wine uses in a C.UTF-8 locale).
# (An empty text is left out: a process created with an empty command line
# is given its program's path instead.)
CORPUS = [
    b" ",
    b"a",
    b"  a\tb   c  ",
    b'a "b c" d',
    b'a \\"b\\" c\\\\"d"',
    b'a C:\\x\\ "y z"',
    b'a "C:\\x\\\\" y',
    b'a b\\\\\\"c',
    b'a ""',
    b'a """"',
    b'a """ b',
    b'a "b""c"',
    b'a "b"" c d"',
    b'a b"c d"e f',
    b'a "unterminated b',
    b'a \\\\\\\\"b c"\\',
    b'"C:\\Program Files\\z.exe" x',
    b'"C:\\Program Files\\z.exe"x y',
    b'C:\\a"b c"\\d.exe e',
    b'z.exe\t"tab\there"\t',
    b'C:\\dir\\z.exe "News %OS% special.ts" @400 2100',
    b'C:\\dir\\z.exe "$HOME `id` $(x).ts" @3FF 21:00:00-21:30:00',
    b"taskkill /F /IM zarnivek2.exe 1>nul 2>nul",
    b'z.exe "caf\xe9 \xa0x.ts" \xe9\\"\xe9',
    b'z.exe a\xa0b \xff\\\\\\" "\xe9"',
    b'z.exe *.ts ?.ts',
]

ALPHABET = [b"a", b"b", b" ", b"\t", b'"', b"\\", b"%", b"$", b"\xe9", b"*"]


def generated(count, seed=5):
    """Command texts of random mixtures of the characters that matter."""
    rng = random.Random(seed)
    weights = [4, 2, 3, 1, 4, 4, 1, 1, 1, 1]
    return [b"".join(rng.choices(ALPHABET, weights, k=rng.randint(1, 14))) for _ in range(count)]


def run_probe(argv, corpus_path):
    p = subprocess.run(argv + ["split", corpus_path], capture_output=True, timeout=500)
    if p.returncode != 0:
        raise AssertionError("%s failed (%d): %r" % (argv, p.returncode, p.stderr))
    return p.stdout.split(b"\n")[:-1]


class Splitting(unittest.TestCase):
    def test_linux_splitter_agrees_with_the_c_runtime(self):
        self.assertTrue(os.path.exists(LINUX_PROBE),
                        "%s is missing: build the Linux tree (build/) first" % LINUX_PROBE)
        texts = CORPUS + generated(300)
        with tempfile.NamedTemporaryFile(suffix=".txt", delete=False) as f:
            f.write(b"".join(t + b"\n" for t in texts))
        self.addCleanup(os.remove, f.name)
        windows = run_probe([WINE_RUN, WINDOWS_PROBE], f.name)
        linux = run_probe([LINUX_PROBE], f.name)
        self.assertEqual(len(windows), len(texts))
        self.assertEqual(len(linux), len(texts))
        differ = [(t, w, l) for t, w, l in zip(texts, windows, linux) if w != l]
        for text, w, l in differ[:20]:
            print("text    %r\nwindows %r\nlinux   %r" % (text, w, l))
        self.assertEqual(differ, [])


if __name__ == "__main__":
    WINE_RUN, WINDOWS_PROBE, LINUX_PROBE = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    os.environ.update({"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
    unittest.main(verbosity=2)
