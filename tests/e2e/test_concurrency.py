"""Several runs at once, as a scheduler starts them: different instance
numbers, some waiting for their window, one stopping its own suffix while the
others wait or record. Each run must end only its own suffix's capture program
and launch its own.

usage: test_concurrency.py LAUNCHER STANDIN"""

import os
import signal
import subprocess
import sys
import unittest

import harness
from harness import BANNER, BLANKING, Sandbox, stop_message

LAUNCHER = STANDIN = None
CLOCK = "2026-12-07 20:59:17"  # the waiting runs launch at 20:59:40


class Concurrent(unittest.TestCase):
    def setUp(self):
        images = ["zarnivek%d.exe" % n for n in range(1, 9)]
        self.box = Sandbox(LAUNCHER, STANDIN, b"", images)
        self.addCleanup(self.box.close)
        self.procs = []
        self.addCleanup(self.reap)

    def reap(self):
        for p in self.procs:
            harness.end_and_reap(p)
            p.stdout.close()
            p.stderr.close()

    def start(self, *args, status=0, seconds=0, clock=None, touch=False):
        """Starts a run; its clock (and the capture program's) runs SPEED times as fast.
        The capture program runs `seconds`, then with `touch` creates its file."""
        env = dict(os.environ, STANDIN_STATUS=str(status), STANDIN_SLEEP=str(seconds))
        if touch:
            env["STANDIN_TOUCH"] = "1"
        env.update(harness.faketime_env(clock, self.box.SPEED))
        p = subprocess.Popen(self.box.argv(*args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=env, cwd=self.box.dir)
        self.procs.append(p)
        return p

    def finish(self, p, timeout=60):
        out, err = p.communicate(timeout=timeout)
        return p.returncode, out, err

    def capture_line(self, n, window):
        return b'%s/zarnivek%d.exe "rec%d.ts" @%d %s\n' % (self.box.dir.encode(), n, n, n, window)

    def test_each_run_ends_and_launches_only_its_own_instance(self):
        # Stale instances of suffixes 1 and 2, and bystanders no run may touch:
        # the plain image and suffix 5, started from elsewhere.
        stale1 = self.box.start_process("zarnivek1.exe")
        stale2 = self.box.start_process("zarnivek2.exe")
        plain = self.box.start_process("zarnivek.exe")
        five = self.box.start_process("zarnivek5.exe")
        window = b"21:00:00-21:30:00"

        # Runs 1 and 2 wait 23 s for their window, then end their stale
        # instance; runs 3 and 4 launch at once and are still recording then.
        one = self.start("rec1.ts", "@1", "I1", "21:00-21:30", status=11, seconds=2, clock=CLOCK)
        two = self.start("I2", "21:00-21:30", "@2", "rec2.ts", status=12, seconds=2, clock=CLOCK)
        three = self.start("rec3.ts", "@3", "I3", "2100", status=13, seconds=400)
        four = self.start("rec4.ts", "@4", "I4", "2100", status=14, seconds=30)

        # While 1 and 2 still wait, a stop request ends instance 3 alone, once
        # it has shown its sign of life (its call in the log, after its line).
        harness.wait_for(lambda: any(c[1] == b"rec3.ts" for c in self.box.calls()), "instance 3 runs")
        stop = self.start("stop", "I3")
        self.assertEqual(self.finish(stop), (1, stop_message(b"3"), BANNER))
        self.assertIsNone(one.poll())
        self.assertIsNone(two.poll())

        # Killed by the stop: 128 + SIGKILL; every other run its own status.
        self.assertEqual(self.finish(three), (137, b"standin ran\n" + self.capture_line(3, b"2100"), BANNER))
        for n, p in ((1, one), (2, two)):
            status, out, err = self.finish(p)
            self.assertEqual((status, err), (10 + n, BANNER))
            # The capture program's line lands wherever the launcher's 512-byte
            # buffer was last flushed; without it the run's own output remains.
            self.assertEqual(out.count(b"standin ran\n"), 1)
            out = out.replace(b"standin ran\n", b"")
            self.assertTrue(out.endswith(BLANKING + stop_message(b"%d" % n) + self.capture_line(n, window)),
                            out[-200:])
        self.assertEqual(self.finish(four), (14, b"standin ran\n" + self.capture_line(4, b"2100"), BANNER))

        self.assertEqual(stale1.wait(5), -9)
        self.assertEqual(stale2.wait(5), -9)
        self.assertIsNone(plain.poll())
        self.assertIsNone(five.poll())

        launched = sorted(self.box.calls())
        self.assertEqual(launched, [
            [self.box.path("zarnivek1.exe").encode(), b"rec1.ts", b"@1", window],
            [self.box.path("zarnivek2.exe").encode(), b"rec2.ts", b"@2", window],
            [self.box.path("zarnivek3.exe").encode(), b"rec3.ts", b"@3", b"2100"],
            [self.box.path("zarnivek4.exe").encode(), b"rec4.ts", b"@4", b"2100"],
        ])


    def test_runs_at_the_same_moment_never_share_a_name(self):
        # Eight runs for one file name leave their wait at the same moment;
        # each capture program creates its file only seconds later, in a
        # directory that does not exist yet for the last four, which their
        # capture programs create.
        later = 3 * self.box.SPEED
        names = ["rec.ts"] * 4 + ["newdir/rec.ts"] * 4
        runs = [self.start(name, "@1", "I%d" % n, "21:00-21:30", seconds=later, clock="2026-12-07 20:59:38",
                           touch=True) for n, name in enumerate(names, 1)]
        for p in runs:
            self.assertEqual(self.finish(p)[0], 0)
        given = sorted(c[1] for c in self.box.calls())
        self.assertEqual(given, sorted([b"%srec%s.ts" % (d, n) for d in (b"", b"newdir/")
                                        for n in (b"", b"(1)", b"(2)", b"(3)")]))

    def test_a_run_ended_by_a_signal_passes_it_on_and_its_name_stays_taken(self):
        # The capture program creates its file 30 s (3 s here) after it starts.
        late = dict(seconds=30 * self.box.SPEED // 10, touch=True)
        # SIGINT, which a terminal sends the capture program too, leaves the
        # run waiting; SIGTERM is passed on, and the run gives the capture
        # program's status: ended by signal 15.
        first = self.start("late.ts", "@1", "I1", "2100", **late)
        harness.wait_for(lambda: len(self.box.calls()) == 1, "the first capture program runs")
        first.send_signal(signal.SIGINT)
        first.send_signal(signal.SIGTERM)
        status, out, _ = self.finish(first, timeout=10)
        self.assertEqual((status, out), (128 + signal.SIGTERM, b'standin ran\n%s/zarnivek1.exe "late.ts" @1 2100\n' %
                                         self.box.dir.encode()))
        # A run ended by SIGKILL leaves its capture program running, holding
        # the name: a second run picks another before the file exists.
        second = self.start("late.ts", "@1", "I2", "2100", **late)
        harness.wait_for(lambda: len(self.box.calls()) == 2, "the second capture program runs")
        second.kill()
        second.wait(10)
        self.assertEqual(self.finish(self.start("late.ts", "@1", "I3", "2100"))[0], 0)
        self.assertEqual([c[1] for c in self.box.calls()], [b"late.ts", b"late.ts", b"late(1).ts"])
        harness.wait_for(lambda: os.path.exists(self.box.path("late.ts")), "the orphaned capture program ends", 20)

    def test_one_directory_by_two_routes_is_one_directory(self):
        # rec/ and bind/ are one directory (a bind mount in a mount namespace
        # of this test's own); four runs at once, two by each route, each
        # capture program creating its file seconds later. And l.ts, a
        # dangling link to target.ts, chosen at once with target.ts.
        for d in ("rec", "bind"):
            os.mkdir(self.box.path(d))
        os.symlink("target.ts", self.box.path("l.ts"))
        env = dict(os.environ, STANDIN_SLEEP=str(30 * self.box.SPEED // 10), STANDIN_TOUCH="1")
        env.update(harness.faketime_env(None, self.box.SPEED))
        runs = [("rec/a.ts", 1), ("bind/a.ts", 2), ("rec/a.ts", 3), ("bind/a.ts", 4), ("l.ts", 5), ("target.ts", 6)]
        script = 'mount --bind rec bind || exit 77\n' + "".join(
            '"$0" %s @1 I%d 2100 >/dev/null 2>&1 &\n' % (name, n) for name, n in runs) + "wait\n"
        p = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script] +
                           self.box.argv()[-1:], cwd=self.box.dir, env=env, timeout=60)
        if p.returncode == 77:
            self.skipTest("no mount namespace of this test's own can be made here")
        names = sorted(c[1] for c in self.box.calls())
        self.assertEqual(sorted(os.listdir(self.box.path("rec"))), ["a(1).ts", "a(2).ts", "a(3).ts", "a.ts"])
        self.assertEqual(sorted(n.split(b"/")[-1] for n in names), [b"a(1).ts", b"a(2).ts", b"a(3).ts", b"a.ts",
                                                                    b"l(1).ts", b"target.ts"])
        self.assertEqual(os.readlink(self.box.path("l.ts")), "target.ts")


if __name__ == "__main__":
    LAUNCHER, STANDIN = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
