"""The proof of the guard that every test running the launcher goes through
(tests/isolated.sh): decoys named like capture programs, started here outside
any private process table, are not seen through it, and survive a stop
request and a launch of their own image names made through it.

This test alone runs outside the guard; the decoys are its own processes.
Exits 77 (skipped) where no private process table can be made.

usage: test_isolation.py ISOLATED LAUNCHER STANDIN"""

import subprocess
import sys
import unittest

import harness
from harness import BANNER, Sandbox

ISOLATED = LAUNCHER = STANDIN = None


def through_guard(*argv):
    return subprocess.run(["sh", ISOLATED] + list(argv), stdin=subprocess.DEVNULL, capture_output=True, timeout=30)


class Guard(unittest.TestCase):
    def test_decoys_outside_survive_runs_of_their_names_inside(self):
        box = Sandbox(LAUNCHER, STANDIN, images=("zarnivek.exe", "zarnivek2.exe"))
        self.addCleanup(box.close)
        box.WRAPPER = ["sh", ISOLATED] + box.WRAPPER
        decoys = [box.start_process(image) for image in ("zarnivek.exe", "zarnivek2.exe")]
        harness.wait_for(lambda: all(open("/proc/%d/comm" % d.pid).read().startswith("zarnivek") for d in decoys),
                         "the decoys run")

        # First a look that ends nothing: the process table inside holds no decoy.
        p = through_guard("sh", "-c", "cat /proc/[0-9]*/comm")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertNotIn(b"zarnivek", p.stdout)

        # Then the runs: nothing inside to end, so no stop message and no pause.
        for args, status, out in (
                (("stop",), 1, b""),
                (("stop", "I2"), 1, b""),
                (("rec.ts", "@1", "2100"), 0, b"standin ran\n" + box.capture_line(b"zarnivek.exe", b"rec.ts", b"1", b"2100")),
                (("I2", "rec2.ts", "@1", "2100"), 0,
                 b"standin ran\n" + box.capture_line(b"zarnivek2.exe", b"rec2.ts", b"1", b"2100"))):
            r = box.run(*args)
            self.assertEqual((r.status, r.out, r.err), (status, out, BANNER), args)
        self.assertEqual(len(box.calls()), 2)
        for d in decoys:
            self.assertIsNone(d.poll(), "a decoy outside was ended")


if __name__ == "__main__":
    ISOLATED, LAUNCHER, STANDIN = sys.argv[1:4]
    del sys.argv[1:4]
    probe = subprocess.run(["sh", ISOLATED, "true"], capture_output=True, timeout=30)
    if probe.returncode == 77:
        sys.stderr.write(probe.stderr.decode())
        sys.exit(77)
    unittest.main(verbosity=2)
