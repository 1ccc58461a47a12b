"""Bad input the real launcher meets on a real system: settings files that are
not regular files or cannot be read, a program path over its capacity,
arguments of 100 000 characters, and a capture program that cannot be
started. Each row of the bad-input table (docs/bad-input.md) that needs the real
binary is checked here.

usage: test_bad_input.py LAUNCHER STANDIN"""

import os
import random
import shutil
import signal
import subprocess
import sys
import unittest
from concurrent.futures import ThreadPoolExecutor

import harness
from harness import BANNER, Sandbox, cannot_start

LAUNCHER = STANDIN = None
NOBODY = 65534


def real_root():
    """True for root of the whole machine, who may run a program as another
    user (root of a user namespace may not: that user is not mapped)."""
    if os.geteuid() != 0:
        return False
    with open("/proc/self/uid_map") as f:
        return f.read().split() == ["0", "0", "4294967295"]


def run_as_nobody(box, *args):
    """Runs the launcher without root's right to read any file."""
    os.chmod(box.dir, 0o755)
    return box.run(*args, user=NOBODY)


class Case(unittest.TestCase):
    def sandbox(self, settings=b""):
        box = Sandbox(LAUNCHER, STANDIN, settings)
        self.addCleanup(box.close)
        return box


class SettingsFile(Case):
    def test_what_is_no_regular_readable_file_ends_with_cannot_open(self):
        def directory(path):
            os.mkdir(path)

        def fifo(path):  # opening it would wait for a writer for ever
            os.mkfifo(path)

        def device(path):  # reading it would never end
            os.symlink("/dev/zero", path)

        def loop(path):
            os.symlink(path, path)

        def unreadable(path):
            with open(path, "wb") as f:
                f.write(b"I1\n")
            os.chmod(path, 0)

        kinds = [directory, fifo, device, loop, unreadable]
        boxes = [self.sandbox(settings=None) for _ in kinds]
        for box, make in zip(boxes, kinds):
            make(box.path("quellatorbin.ini"))

        def attempt(i):
            box, make = boxes[i], kinds[i]
            if make is unreadable and real_root():
                return run_as_nobody(box, "rec.ts", "@1", "2100")
            return box.run("rec.ts", "@1", "2100")

        with ThreadPoolExecutor(len(kinds)) as pool:
            results = list(pool.map(attempt, range(len(kinds))))
        for box, make, r in zip(boxes, kinds, results):
            message = b"Cannot open '%s/quellatorbin.ini'\n" % box.dir.encode()
            self.assertEqual((r.status, r.out, r.err), (1, message, BANNER), make.__name__)
            self.assertEqual(box.calls(), [], make.__name__)

    def test_binary_garbage_is_passed_over(self):
        # Random bytes, none of them a line's keyword or Ctrl-Z, then one line
        # that acts: the garbage changes nothing and ends nothing.
        rnd = random.Random(6)
        garbage = bytes(b for b in (rnd.randrange(256) for _ in range(20000)) if b not in b"IM@\x1a")
        box = self.sandbox(settings=garbage + b"\nI1\n")
        shutil.copy(STANDIN, box.path("zarnivek1.exe"))
        r = box.run("rec.ts", "@1", "2100", "I2")
        self.assertEqual(r.status, 0)
        self.assertEqual(box.calls(), [[box.path("zarnivek1.exe").encode(), b"rec.ts", b"@1", b"2100"]])


class ProgramPath(Case):
    def test_path_of_254_characters_runs_one_of_255_is_refused(self):
        box = self.sandbox()
        for length, ok in ((254, True), (255, False)):
            # The directory chain that makes the program's path that long.
            room = length - len(box.dir) - len("/quellatorbin") - 1
            where = os.path.join(box.dir, "%d" % length, "d" * (room - 4))
            os.makedirs(where)
            self.assertEqual(len(os.path.join(where, "quellatorbin")), length)
            for name in ("quellatorbin", "zarnivek.exe", "quellatorbin.ini"):
                shutil.copy(box.path(name), os.path.join(where, name))
            p = box.run("rec.ts", "@1", "2100", launcher=os.path.join(where, "quellatorbin"), cwd=where)
            if ok:
                self.assertEqual(p.status, 0)
                self.assertTrue(p.out.endswith(b'%s/zarnivek.exe "rec.ts" @1 2100\n' % where.encode()))
            else:
                self.assertEqual((p.status, p.out), (
                    1, b"Cannot find the program directory, or its path is longer than 254 characters\n"))


    def test_directory_with_a_blank_starts_the_program_in_it(self):
        # Unquoted, "<box>/my tv/zarnivek.exe" would start "<box>/my".
        box = self.sandbox()
        where = box.path("my tv")
        os.mkdir(where)
        for name in ("quellatorbin", "zarnivek.exe", "quellatorbin.ini"):
            shutil.copy(box.path(name), os.path.join(where, name))
        shutil.copy(STANDIN, box.path("my"))
        launcher = os.path.join(where, "quellatorbin")
        p = box.run("rec.ts", "@1", "2100", launcher=launcher, cwd=where)
        program = os.path.join(where, "zarnivek.exe").encode()
        self.assertEqual((p.status, p.out), (0, b'standin ran\n"%s" "rec.ts" @1 2100\n' % program))
        self.assertEqual(box.calls(), [], "the program beside the directory ran")
        with open(os.path.join(where, "calls.log"), "rb") as f:
            self.assertEqual(f.read(), b"%d:%s6:rec.ts2:@14:2100\n" % (len(program), program))


class LongArguments(Case):
    def test_numbers_of_100000_digits_keep_their_low_32_bits(self):
        box = self.sandbox()
        shutil.copy(STANDIN, box.path("zarnivek2.exe"))
        r = box.run("rec.ts", "@" + "1" * 100000, "I" + "0" * 99999 + "2", "2100")
        self.assertEqual(r.status, 0)
        self.assertEqual(box.calls(), [[box.path("zarnivek2.exe").encode(), b"rec.ts", b"@11111111", b"2100"]])

    def test_texts_of_100000_characters_are_refused_and_quoted_short(self):
        box = self.sandbox()
        cases = [
            (("x" * 100000 + ".ts", "@1", "2100"),
             b"Bad file argument '%s...': longer than 511 characters\n" % (b"x" * 300)),
            (("rec.ts", "@1", "2" * 100000),
             b"Bad time argument '%s': its window text is longer than 31 characters\n" % (b"2" * 300)),
            (("rec.ts", "@1", "21:00-" + "0" * 100000 + "2000000000:2000000000"),
             b"Bad time argument '21:00-%s': its window text is longer than 31 characters\n" % (b"0" * 294)),
        ]
        with ThreadPoolExecutor(len(cases)) as pool:
            results = list(pool.map(lambda c: box.run(*c[0]), cases))
        for (args, message), r in zip(cases, results):
            self.assertEqual((r.status, r.out, r.err), (1, message, BANNER))
        self.assertEqual(box.calls(), [])


class ClosedOutput(Case):
    def test_a_pipe_nobody_reads_ends_neither_the_wait_nor_the_status(self):
        # Thirty countdown lines overflow the 512-byte buffer while the run
        # waits: that write fails, and the run goes on to the launch. The
        # capture program is a shell that runs the output file as a script:
        # it records the signals it ignores and exits 7.
        box = self.sandbox()
        shutil.copy("/bin/sh", box.path("zarnivek.exe"))
        box.write("rec.sh", b"grep SigIgn /proc/$$/status > sigign.txt; exit 7\n")
        read_end, write_end = os.pipe()
        os.close(read_end)
        env = dict(os.environ, **harness.faketime_env("2026-12-07 20:59:37", box.SPEED))
        p = subprocess.run(box.argv("rec.sh", "@1", "21:00-21:30", "fn"), stdin=subprocess.DEVNULL,
                           stdout=write_end, stderr=subprocess.PIPE, env=env, cwd=box.dir, timeout=30)
        os.close(write_end)
        self.assertEqual((p.returncode, p.stderr), (7, BANNER))
        # The capture program still gets SIGPIPE at its default.
        with open(box.path("sigign.txt")) as f:
            ignored = int(f.read().split()[1], 16)
        self.assertEqual(ignored & (1 << (signal.SIGPIPE - 1)), 0)


    @unittest.skipIf(harness.MEMCHECK, "valgrind itself opens files on the closed descriptors")
    def test_closed_standard_streams_are_opened_on_dev_null(self):
        # Closed, standard output would be the first file the capture program
        # opens, its output file, and its console output would land in the
        # recording. The capture program is a shell that runs the output file
        # as a script, which records where its standard streams lead.
        box = self.sandbox()
        shutil.copy("/bin/sh", box.path("zarnivek.exe"))
        box.write("rec.sh", b"(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2) > fds.txt\n")
        p = subprocess.run(["sh", "-c", 'exec "$@" <&- >&- 2>&-', "sh"] + box.argv("rec.sh", "@1", "2100", "fn"),
                           cwd=box.dir, timeout=30)
        self.assertEqual(p.returncode, 0)
        with open(box.path("fds.txt")) as f:
            self.assertEqual(f.read().split(), ["/dev/null"] * 3)


class DescriptorLimit(Case):
    @unittest.skipIf(harness.MEMCHECK or os.environ.get("QUELLATORBIN_SANITIZED"),
                     "valgrind and the sanitizers' runtime need descriptors of their own")
    def test_what_it_cannot_tell_is_said_and_the_recording_starts_where_it_can(self):
        # Four descriptors: the process table's entries cannot be opened, nor
        # both of the output name's reservations made: said, and refused.
        # Five: the capture program (dynamically linked) still loads its C
        # library beside the reservation handed on to it.
        box = self.sandbox()
        line = b'%s/zarnivek.exe "rec.ts" @1 2100\n' % box.dir.encode()
        for limit, status, out in ((4, 1, b"Cannot tell whether zarnivek.exe runs: Too many open files\nCannot tell "
                                          b"whether the output name rec.ts is free: Too many open files\n"),
                                   (5, 0, b"standin ran\n" + line)):
            p = subprocess.run(["sh", "-c", 'ulimit -n %d && exec "$0" "$@"' % limit] + box.argv("rec.ts", "@1", "2100"),
                               capture_output=True, cwd=box.dir, timeout=30)
            # Standard output is a pipe: the launcher's lines wait in its buffer.
            self.assertEqual((p.returncode, p.stdout), (status, out), limit)
        self.assertEqual(len(box.calls()), 1)


class CaptureProgram(Case):
    def test_one_that_cannot_be_started_gives_127(self):
        box = self.sandbox()
        image = box.path("zarnivek.exe")
        os.chmod(image, 0o644)
        r = box.run("rec.ts", "@1", "2100")
        self.assertEqual((r.status, r.err), (127, BANNER + cannot_start(image, b"Permission denied")))
        os.remove(image)
        os.mkdir(image)
        r = box.run("rec.ts", "@1", "2100")
        self.assertEqual((r.status, r.err), (127, BANNER + cannot_start(image, b"Permission denied")))


if __name__ == "__main__":
    LAUNCHER, STANDIN = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
