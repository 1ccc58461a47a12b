"""End-to-end tests of the Linux build: the real launcher, run in a fresh
temporary directory next to a stand-in capture program. The cases of
cases.py run here too, on the Linux sandbox.

usage: test_e2e.py LAUNCHER STANDIN"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

import cases
import harness
from harness import BANNER, BLANKING, SandboxCase, cannot_start, stop_message

LAUNCHER = STANDIN = None


class Launch(cases.Launch):
    # Linux names may hold what Windows names may not.
    extra_names = [(n, n) for n in (b"\xe8\xa1\xa8.ts", b"back\\slash.ts", b"*.ts", b"a|b<c>d.ts", b"NUL.ts")]

    def test_output_on_a_terminal_is_unbuffered(self):
        # Each line shows at once: the echo comes before the capture program's output.
        r = self.box.run("rec.ts", "@1", "2100", terminal=True)
        self.assertEqual(r.status, 0)
        self.assertEqual(r.out, self.capture_line(b"zarnivek.exe", b"rec.ts", b"1", b"2100") + b"standin ran\n")
        self.assertEqual(r.err, BANNER)

    def test_missing_capture_program(self):
        os.remove(self.box.path("zarnivek.exe"))
        r = self.box.run("rec.ts", "@1", "2100")
        self.assertEqual(r.status, 127)
        self.assertEqual(r.err, BANNER + cannot_start(self.box.path("zarnivek.exe"), b"No such file or directory"))

    def test_help_and_version(self):
        # Wherever the switch stands, at once, with no settings file, banner
        # or capture program.
        os.remove(self.box.path("quellatorbin.ini"))
        for args, begins in ((("rec.ts", "@400", "2100", "--help"), b"quellatorbin 0.05: starts a capture program"),
                             (("--version",), b"quellatorbin 0.05\n")):
            r = self.box.run(*args)
            self.assertEqual((r.status, r.err, r.out[:len(begins)]), (0, b"", begins), args)
            self.assertLess(r.seconds, 3)
        self.assertEqual(self.box.calls(), [])

    @unittest.skipIf(os.environ.get("QUELLATORBIN_SANITIZED"), "a sanitizer build needs its runtime's libraries")
    def test_needs_only_the_c_library(self):
        out = subprocess.run(["readelf", "-d", LAUNCHER], capture_output=True, check=True).stdout
        needed = [line.split(b"[")[1].split(b"]")[0] for line in out.splitlines() if b"(NEEDED)" in line]
        self.assertEqual(needed, [b"libc.so.6"])


class EarlyEnds(cases.EarlyEnds):
    def test_stop_request_ends_at_once_with_status_1(self):
        r = self.box.run("stop")
        self.assertEqual((r.status, r.out, r.err), (1, b"", BANNER))
        self.assertLess(r.seconds, 3)
        self.assertEqual(self.box.calls(), [])


class MissingSettings(cases.MissingSettings):
    pass


class Wait(SandboxCase):
    def progress(self, out):
        """The progress lines before the blanking line, with the stand-in's
        line taken out: it lands wherever the 512-byte buffer was flushed."""
        at = out.index(b"standin ran\n")
        self.assertEqual(at % 512, 0)
        out = out[:at] + out[at + len(b"standin ran\n"):]
        return out[:out.index(BLANKING)].split(b"\r")[:-1], out

    def test_counts_down_on_the_clock(self):
        r = self.box.run("rec.ts", "@1", "21:00-21:30", clock="2026-12-07 20:59:37")
        self.assertEqual(r.status, 0)
        self.assertGreater(r.seconds, 2.5)
        self.assertLess(r.seconds, 5)
        lines, out = self.progress(r.out)
        self.assertEqual(sorted(set(lines), reverse=True), [b"Please wait...%d   " % n for n in (3, 2, 1)])
        self.assertEqual(lines, sorted(lines, reverse=True))
        self.assertGreater(len(lines), 20)
        self.assertLess(len(lines), 40)
        self.assertTrue(out.endswith(BLANKING + self.capture_line(b"zarnivek.exe", b"rec.ts", b"1", b"21:00:00-21:30:00")))

    def test_waits_outside_the_launch_minute_with_one_line_a_second(self):
        self.box.write("quellatorbin.ini", b"M30\n")  # launch at 20:59:10
        r = self.box.run("rec.ts", "@1", "21:00-21:30", clock="2026-12-07 20:58:58")
        self.assertEqual(r.status, 0)
        self.assertGreater(r.seconds, 11.5)
        lines, _ = self.progress(r.out)
        plain = lines.count(b"Please wait...    ")
        self.assertIn(plain, (2, 3))
        self.assertEqual(lines[:plain], [b"Please wait...    "] * plain)
        # Inside the minute a pass every tenth of a second: up to ten lines
        # for each whole second left (fewer when a pass runs long, as under
        # valgrind), and where the first reading falls in its second decides
        # how many the "10" gets. One line a second there, or a pause cut
        # short, shows here.
        counts = [lines.count(b"Please wait...%d   " % n) for n in range(10, 0, -1)]
        self.assertEqual(plain + sum(counts), len(lines))
        self.assertEqual(lines[plain:], sorted(lines[plain:], key=lambda l: -int(l[14:])))
        self.assertIn(counts[0], range(1, 11))
        for n in counts[1:]:
            self.assertIn(n, range(6, 11), counts)

    def test_a_launch_minute_the_clock_jumps_over(self):
        # 2026-03-29 in Berlin: 02:00 CET becomes 03:00 CEST, and the launch
        # minute 02:59 of a 3:00 window never shows. The run leaves its wait
        # at the first reading past the launch moment, not a day later.
        self.box.write("quellatorbin.ini", b"M10,5\n")
        r = self.box.run("rec.ts", "@1", "3:00-3:30", clock="2026-03-29 01:59:50", env={"TZ": "Europe/Berlin"})
        self.assertEqual(r.status, 0)
        self.assertLess(r.seconds, 60)
        lines, out = self.progress(r.out)
        self.assertEqual(set(lines), {b"Please wait...    "})
        self.assertIn(len(lines), (9, 10, 11))
        self.assertTrue(out.endswith(BLANKING + self.capture_line(b"zarnivek.exe", b"rec.ts", b"1", b"02:59:50-03:30:05")))


class Stop(cases.Stop):
    def test_stop_message_bytes_on_a_terminal(self):
        victim = self.box.start_process("zarnivek.exe")
        r = self.box.run("stop", terminal=True)
        self.assertEqual((r.status, r.out), (1, stop_message()))
        self.assert_ended(victim)

    def test_an_instance_that_comes_back_is_said_and_the_recording_starts(self):
        # A supervisor starts zarnivek1.exe again 20 ms after each end.
        self.box.add_image("zarnivek1.exe")
        where = tempfile.mkdtemp(prefix="qb-e2e-other-")
        exe = os.path.join(where, "zarnivek1.exe")
        shutil.copy("/bin/sleep", exe)
        supervisor = subprocess.Popen(["sh", "-c", 'while :; do "$0" 120; sleep 0.02; done', exe],
                                      start_new_session=True)
        try:
            harness.wait_for(lambda: b"zarnivek1.exe" in subprocess.run(["ps", "-eo", "comm"], capture_output=True)
                             .stdout, "the supervised instance runs")
            r = self.box.run("rec.ts", "@1", "I1", "2100")
        finally:
            os.killpg(supervisor.pid, signal.SIGKILL)
            supervisor.wait(10)
            shutil.rmtree(where)
        self.assertEqual((r.status, r.out), (0, b"standin ran\nCannot end zarnivek1.exe: it starts again each time it "
                                                b"is ended\n" + self.capture_line(b"zarnivek1.exe", b"rec.ts", b"1",
                                                                                   b"2100")))

    def test_nothing_to_end_means_no_message_and_no_pause(self):
        r = self.box.run("rec.ts", "@1", "2100")
        self.assertEqual(r.out, b"standin ran\n" + self.capture_line(b"zarnivek.exe", b"rec.ts", b"1", b"2100"))
        self.assertLess(r.seconds, 2)


with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "quellatorbin.ini"), "rb") as f:
    SAMPLE_SETTINGS = f.read()


class Check(SandboxCase):
    """The report of --check on the real system, byte for byte: the rows of
    every kind of report are unit rows (tests/unit/check_test.cpp)."""
    settings = SAMPLE_SETTINGS
    images = ("zarnivek.exe", "zarnivek1.exe", "zarnivek2.exe")
    BERLIN = {"TZ": "Europe/Berlin"}

    # (what, settings file, arguments, local time, environment, status,
    # report); {dir} is the program directory. Each run's clock is frozen at
    # its local time.
    GOLDEN = [
        ("the sample settings file", SAMPLE_SETTINGS, ("Sport.ts", "@400", "I2", "21:00-21:54"), "2026-12-07 18:45:03", BERLIN, 0,
         """program directory: {dir}/
settings file: {dir}/quellatorbin.ini
lines 1 to 18: remarks
instance number 2: image name zarnivek2.exe, which does not run now
source id: 400
capture program: {dir}/zarnivek2.exe
local time: 18:45:03 CET (+0100)
window text: 21:00:00-21:54:00
launch: today at 20:59:40, in 2 h 14 min 37 s
output name: Sport.ts
output directory: the current directory
{dir}/zarnivek2.exe "Sport.ts" @400 21:00:00-21:54:00
"""),
    ]

    def test_golden_reports(self):
        for what, settings, args, clock, env, status, want in self.GOLDEN:
            self.box.write("quellatorbin.ini", settings)
            r = self.box.run("--check", *args, clock=clock, frozen=True, env=env)
            self.assertEqual(r.out.decode(), want.format(dir=self.box.dir), what)
            self.assertEqual((r.status, r.err), (status, BANNER), what)

    def test_its_last_line_is_what_a_run_echoes(self):
        self.box.write("taken.ts", b"old")
        cases = [
            ("rec.ts", "@3ff", "2100"),
            ("I2", "rec.ts", "@400", "2100"),            # instance offset and mapping
            ("taken.ts", "@1", "2100"),                  # a numbered name
            ("a b.ts", "@1", "2100", "fn"),
            ("rec.ts", "@1", "21:00-21:30"),             # a window, at its launch moment
        ]
        for args in cases:
            check = self.box.run("--check", *args, clock="2026-12-07 20:59:45")
            run = self.box.run(*args, clock="2026-12-07 20:59:45")
            self.assertEqual((check.status, run.status), (0, 0), args)
            # The run's echo follows its blanked progress line.
            self.assertEqual(check.out.split(b"\n")[-2], run.out.split(b"\n")[-2].split(b"\r")[-1], args)
        self.assertEqual(len(self.box.calls()), len(cases))

    def test_ends_nothing_starts_nothing_and_never_waits(self):
        running = self.box.start_process("zarnivek.exe")
        r = self.box.run("--check", "rec.ts", "@1", "21:00-21:30", clock="2026-12-07 12:00:00")
        self.assertEqual((r.status, r.err), (0, BANNER))
        self.assertLess(r.seconds, 2)
        self.assertIn(b"\ninstance number 0: image name zarnivek.exe, which runs now: "
                      b"a run would end it at its launch moment\n", r.out)
        r = self.box.run("/check", "stop", clock="2026-12-07 12:00:00")
        self.assertEqual(r.status, 0)
        self.assertTrue(r.out.endswith(b"which runs now: the stop request would end it\n"), r.out)
        self.assert_runs(running)
        self.assertEqual(self.box.calls(), [])
        self.assertEqual(sorted(os.listdir(self.box.dir)), sorted(["quellatorbin", "quellatorbin.ini"] + list(self.images)))


class OutputNames(cases.OutputNames):
    def test_relative_names_resolve_against_the_current_directory(self):
        work = self.box.path("work")
        os.mkdir(work)
        open(os.path.join(work, "rec.ts"), "wb").close()
        self.box.run("rec.ts", "@1", "2100", cwd=work)
        self.assertEqual(self.box.calls()[0][1], b"rec(1).ts")


if __name__ == "__main__":
    LAUNCHER, STANDIN = sys.argv[1], sys.argv[2]
    SandboxCase.programs = (LAUNCHER, STANDIN)
    del sys.argv[1:3]
    unittest.main(verbosity=2)
