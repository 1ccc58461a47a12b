"""End-to-end cases that the Linux build and the Windows build (under Wine)
are both held to. Each test module subclasses these with its platform's
sandbox class; texts are written here with a bare line feed and the sandbox
turns them into what its platform writes."""

import os
from concurrent.futures import ThreadPoolExecutor

import vectors
from harness import BANNER, SandboxCase, stop_message


class Launch(SandboxCase):
    # (file argument, name the capture program receives) beyond the shared ones
    extra_names = []

    def test_echoes_runs_and_passes_the_status_on(self):
        for status in vectors.STATUSES:
            r = self.box.run("rec.ts", "@3ff", "2100", env={"STANDIN_STATUS": str(status), "STANDIN_ERR": "1"})
            self.assertEqual(r.status, status)
            # Standard output is a pipe: the launcher's echo stays in its buffer
            # while the capture program runs, so it lands after that program's line.
            self.assertEqual(r.out, self.box.text(b"standin ran\n") +
                             self.capture_line(b"zarnivek.exe", b"rec.ts", b"3FF", b"2100"))
            # The capture program's standard error reaches the console.
            self.assertEqual(r.err, self.box.text(BANNER + b"standin error\n"))
        argv = [self.box.program_path("zarnivek.exe"), b"rec.ts", b"@3FF", b"2100"]
        self.assertEqual(self.box.calls(), [argv] * len(vectors.STATUSES))

    def test_output_redirected_to_a_file_keeps_the_order(self):
        r = self.box.run("@400", "2100", "rec.ts", stdout_path=self.box.path("out.txt"))
        self.assertEqual(r.out, self.box.text(b"standin ran\n") +
                         self.capture_line(b"zarnivek.exe", b"rec.ts", b"400", b"2100"))

    def test_file_names_reach_the_capture_program_literally(self):
        names = [(n, n) for n in vectors.LITERAL_NAMES] + self.extra_names
        for name, _ in names:
            r = self.box.run(name, "@1", "2100")
            self.assertEqual(r.status, 0, name)
        self.assertEqual([c[1] for c in self.box.calls()], [received for _, received in names])
        self.assertEqual(sorted(os.listdir(self.box.dir)),
                         sorted([self.box.LAUNCHER_NAME, "quellatorbin.ini", "zarnivek.exe", "calls.log"]))


class EarlyEnds(SandboxCase):
    def test_refusals_pause_six_seconds_and_exit_1(self):
        cases = vectors.REFUSALS
        with ThreadPoolExecutor(len(cases)) as pool:
            results = list(pool.map(lambda c: self.box.run(*c[0]), cases))
        for (args, message), r in zip(cases, results):
            self.assertEqual((r.status, r.out, r.err), (1, self.box.text(message), self.box.text(BANNER)), args[:3])
            self.assertGreaterEqual(r.seconds, 5.9, args[:3])
        self.assertEqual(self.box.calls(), [])


class MissingSettings(SandboxCase):
    settings = None

    def test_every_run_ends_with_cannot_open(self):
        # On the real clock: the one test that shows the real 6 s pause.
        message = self.box.text(b"Cannot open '%s'\n" % self.box.program_path("quellatorbin.ini"))
        runs = [("rec.ts", "@1", "2100"), ("stop",)]
        with ThreadPoolExecutor(len(runs)) as pool:
            results = list(pool.map(lambda a: self.box.run(*a, real_time=True), runs))
        for r in results:
            self.assertEqual((r.status, r.out, r.err), (1, message, self.box.text(BANNER)))
            self.assertGreaterEqual(r.elapsed, 5.9)
        self.assertEqual(self.box.calls(), [])


class Stop(SandboxCase):
    def test_stop_ends_only_its_own_suffix(self):
        two = self.box.start_process("zarnivek2.exe")
        one = self.box.start_process("zarnivek1.exe")
        plain = self.box.start_process("zarnivek.exe")
        r = self.box.run("stop", "I2")
        self.assertEqual((r.status, r.out, r.err), (1, self.box.text(stop_message(b"2")), self.box.text(BANNER)))
        self.assertLess(r.seconds, 3)
        self.assert_ended(two)
        self.assert_runs(one, plain)
        # Nothing left to end: no message, still status 1.
        r = self.box.run("stop", "I2")
        self.assertEqual((r.status, r.out), (1, b""))

    def test_stop_message_bytes_on_a_file(self):
        victim = self.box.start_process("zarnivek.exe")
        r = self.box.run("stop", stdout_path=self.box.path("out.txt"))
        self.assertEqual((r.status, r.out), (1, self.box.text(stop_message())))
        self.assert_ended(victim)

    def test_stale_instance_is_ended_before_a_launch(self):
        stale = self.box.start_process("zarnivek.exe")
        r = self.box.run("rec.ts", "@1", "2100")
        self.assertEqual(r.status, 0)
        self.assert_ended(stale)
        self.assertEqual(r.out, self.box.text(b"standin ran\n" + stop_message()) +
                         self.capture_line(b"zarnivek.exe", b"rec.ts", b"1", b"2100"))
        self.assertGreater(r.seconds, 2.9)
        self.assertEqual(len(self.box.calls()), 1)


class OutputNames(SandboxCase):
    images = ("zarnivek.exe", "zarnivek1.exe", "zarnivek2.exe", "zarnivek3.exe", "zarnivek4.exe")

    def test_two_runs_at_once_never_share_a_name(self):
        # Both choose a name before either capture program creates its file,
        # and its directory where that does not exist yet.
        env = {"STANDIN_SLEEP": "%d" % (3 * self.box.SPEED), "STANDIN_TOUCH": "1"}
        runs = [("rec.ts", 1), ("rec.ts", 2), ("new/rec.ts", 3), ("new/rec.ts", 4)]
        with ThreadPoolExecutor(len(runs)) as pool:
            results = list(pool.map(lambda r: self.box.run(r[0], "@1", "I%d" % r[1], "2100", env=env), runs))
        self.assertEqual([r.status for r in results], [0] * len(runs))
        self.assertEqual(sorted(c[1] for c in self.box.calls()),
                         [b"new/rec(1).ts", b"new/rec.ts", b"rec(1).ts", b"rec.ts"])

    def test_existing_files_and_directories_are_numbered(self):
        self.box.write("rec.ts", b"old")
        os.mkdir(self.box.path("rec(1).ts"))
        for _ in range(2):
            r = self.box.run("rec.ts", "@1", "2100", env={"STANDIN_TOUCH": "1"})
            self.assertEqual(r.status, 0)
        self.assertEqual([c[1] for c in self.box.calls()], [b"rec(2).ts", b"rec(3).ts"])
        with open(self.box.path("rec.ts"), "rb") as f:
            self.assertEqual(f.read(), b"old")
