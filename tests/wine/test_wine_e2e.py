"""End-to-end tests of the Windows build under Wine: the real launcher, run in
a fresh temporary directory next to the Windows stand-in capture program,
through Wine's own cmd.exe and taskkill.exe.

usage: test_wine_e2e.py WINE_RUN LAUNCHER STANDIN ARGV_PROBE"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import cases  # noqa: E402
import harness  # noqa: E402
from harness import BANNER, BLANKING  # noqa: E402

WINE_RUN = LAUNCHER = STANDIN = PROBE = None
JAPANESE = {"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}
# What the command interpreter gives for a program it cannot find (9009),
# as a Linux exit status (its low 8 bits).
NOT_FOUND = 9009 & 0xFF


def crlf(text):
    """Standard output and standard error are in text mode on Windows."""
    return text.replace(b"\n", b"\r\n")


def windows_path(path):
    """The name Wine gives a Linux path: drive Z: is the root."""
    return b"Z:" + os.fsencode(path).replace(b"/", b"\\")


class WineSandbox(harness.Sandbox):
    LAUNCHER_NAME = "quellatorbin.exe"
    WRAPPER = []  # set to [WINE_RUN] before the tests run
    SPEED = 1     # libfaketime does not reach Wine's clock
    NEWLINE = b"\r\n"  # standard output and standard error are in text mode
    KILLED = None  # Wine ends a Windows program with a status of its own

    def __init__(self, *args, launcher_name=None, **kwargs):
        if launcher_name:
            self.LAUNCHER_NAME = launcher_name
        super().__init__(*args, **kwargs)

    def program_path(self, name=""):
        return windows_path(self.dir) + b"\\" + os.fsencode(name)

    def start_process(self, image, seconds=120, where=None):
        """Starts the stand-in under Wine as `image`, from `where` (default: a
        fresh directory outside the sandbox), and returns once it runs."""
        where = where or tempfile.mkdtemp(prefix="qb-wine-other-")
        p = start_standin(os.path.join(where, image), seconds)
        self.children.append((p, where))
        return p


def start_standin(exe, seconds):
    """Starts a copy of the stand-in at `exe` (its calls.log goes next to it),
    running for `seconds`, and returns once it runs."""
    shutil.copy(STANDIN, exe)
    p = subprocess.Popen([WINE_RUN, exe], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, env=dict(os.environ, STANDIN_SLEEP=str(seconds)),
                         cwd=os.path.dirname(exe))
    deadline = time.monotonic() + 60
    while not os.path.exists(os.path.join(os.path.dirname(exe), "calls.log")):
        if p.poll() is not None or time.monotonic() > deadline:
            raise AssertionError("%s did not start" % exe)
        time.sleep(0.05)
    return p


KEEPER = None


def setUpModule():
    """Keeps the Wine server and its service processes running for the whole
    module, started with no pipe of ours: otherwise they start with a run and
    hold its output pipes open until the server ends, seconds later."""
    global KEEPER
    where = tempfile.mkdtemp(prefix="qb-wine-keeper-")
    KEEPER = start_standin(os.path.join(where, "keeper.exe"), 3600)
    KEEPER.where = where


def tearDownModule():
    harness.end_and_reap(KEEPER)
    shutil.rmtree(KEEPER.where, ignore_errors=True)


class Case(harness.SandboxCase):
    sandbox_class = WineSandbox


class Launch(cases.Launch, Case):
    # A non-ASCII name arrives in the Windows code page (1252).
    extra_names = [(b"caf\xc3\xa9.ts", b"caf\xe9.ts")]

    def test_console_output_is_unbuffered(self):
        # Wine makes a terminal a console: the echo shows before the capture
        # program's output (which reaches it with cursor controls between).
        r = self.box.run("rec.ts", "@1", "2100", terminal=True)
        self.assertEqual(r.status, 0)
        out = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", r.out)
        self.assertTrue(out.startswith(self.capture_line(b"zarnivek.exe", b"rec.ts", b"1", b"2100")), out)
        self.assertIn(b"standin", out)

    def test_percent_sequences_never_lead_to_an_overwrite(self):
        # The command interpreter would make 'News %OS% special(1).ts' into
        # 'News Windows_NT special(1).ts', a file that exists.
        self.box.write("News %OS% special.ts", b"old")
        self.box.write("News Windows_NT special(1).ts", b"other")
        r = self.box.run("News %OS% special.ts", "@1", "2100", env={"STANDIN_TOUCH": "1"})
        self.assertEqual(r.status, 0)
        self.assertEqual(r.out, crlf(b"standin ran\n") +
                         self.capture_line(b"zarnivek.exe", b"News %OS% special(1).ts", b"1", b"2100"))
        self.assertEqual(self.box.calls()[0][1], b"News %OS% special(1).ts")
        for name, data in (("News %OS% special.ts", b"old"), ("News Windows_NT special(1).ts", b"other"),
                           ("News %OS% special(1).ts", b"")):
            with open(self.box.path(name), "rb") as f:
                self.assertEqual(f.read(), data, name)

    def test_missing_capture_program(self):
        # Through the command interpreter and, for a name with '%', directly:
        # both give the interpreter's status for a program it cannot find.
        os.remove(self.box.path("zarnivek.exe"))
        for name in (b"rec.ts", b"100%.ts"):
            r = self.box.run(name, "@1", "2100")
            self.assertEqual(r.status, NOT_FOUND, name)
            self.assertEqual(r.out, self.capture_line(b"zarnivek.exe", name, b"1", b"2100"))
            self.assertTrue(r.err.startswith(crlf(BANNER)), r.err)
            self.assertGreater(len(r.err), len(crlf(BANNER)), "no word that the program was not found")


class EarlyEnds(cases.EarlyEnds, Case):
    def test_program_path_over_254_characters(self):
        deep = self.box.path("d" * 120 + "/" + "e" * 120)
        os.makedirs(deep)
        shutil.copy(LAUNCHER, os.path.join(deep, "quellatorbin.exe"))
        shutil.copy(self.box.path("quellatorbin.ini"), deep)
        p = subprocess.run([WINE_RUN, os.path.join(deep, "quellatorbin.exe"), "rec.ts", "@1", "2100"],
                           capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 1)
        self.assertEqual(p.stdout, b"Cannot find the program directory, or its path is longer than 254 characters\r\n")


class WindowsNames(Case):
    def test_names_windows_cannot_store_are_refused_at_once(self):
        # Code page 1252 here: the Japanese title and the full-width colon
        # reach the argument vector as '?' and as ':' (best fit).
        lost = "it holds characters code page 1252 cannot show"
        cases = [
            ("ニュース.ts", b"????.ts", lost),
            ("News：Special.ts", b"News:Special.ts", lost),
            ("NUL.ts", b"NUL.ts", "it names a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9), not a file"),
        ]
        with ThreadPoolExecutor(len(cases)) as pool:
            results = list(pool.map(lambda c: self.box.run(c[0], "@400", "2100"), cases))
        for (_, shown, why), r in zip(cases, results):
            self.assertEqual((r.status, r.out), (1, b"Bad file argument '%s': %s\r\n" % (shown, why.encode())))
            self.assertGreaterEqual(r.elapsed, 5.9)
        r = self.box.run("--check", "ニュース.ts", "@400", "2100")
        self.assertEqual(r.status, 1)
        self.assertTrue(r.out.endswith(b"\r\nBad file argument '????.ts': %s\r\n" % lost.encode()), r.out)
        self.assertEqual(self.box.calls(), [])


    def test_look_alikes_take_the_place_of_characters_the_code_page_lacks(self):
        # Code page 932: a title's wave dash, minus sign, double vertical line
        # and em dash are stored as their look-alikes; a character with none
        # is refused.
        names = [("番組〜特集.ts", "番組～特集.ts"), ("A−B‖C—D.ts", "A－B∥C―D.ts")]
        for given, stored in names:
            r = self.box.run(given, "@400", "2100", env=JAPANESE)
            self.assertEqual(r.status, 0, r.out)
            self.assertEqual(self.box.calls()[-1][1], stored.encode("cp932"))
        r = self.box.run("🈑.ts", "@400", "2100", env=JAPANESE)
        self.assertEqual((r.status, r.out), (1, b"Bad file argument '??.ts': it holds characters code page 932 cannot show\r\n"))
        # Stored with look-alikes, 255 wave dashes come to 513 bytes: too long.
        r = self.box.run("〜" * 255 + ".ts", "@400", "2100", env=JAPANESE)
        self.assertEqual(r.status, 1)
        self.assertTrue(r.out.endswith(b"': in code page 932 it is longer than 511 bytes\r\n"), r.out)
        r = self.box.run("--check", "番組〜特集.ts", "@400", "2100", env=JAPANESE)
        self.assertIn("the name given is stored as 番組～特集.ts: look-alikes take the place of characters code page 932 "
                      "lacks\r\n".encode("cp932"), r.out)
        self.assertEqual(len(self.box.calls()), len(names))

    def test_long_names_and_names_windows_would_cut(self):
        # A full path over 259 characters after \\?\: the wide status query
        # finds it, and it is numbered, never overwritten.
        long_name = "N" * 240 + ".ts"
        self.box.write(long_name, b"ORIGINAL")
        given = b"\\\\?\\" + windows_path(self.box.path(long_name))
        r = self.box.run(given, "@400", "2100")
        self.assertEqual(r.status, 0, r.out)
        self.assertEqual(self.box.calls()[0][1], given[:-3] + b"(1).ts")
        with open(self.box.path(long_name), "rb") as f:
            self.assertEqual(f.read(), b"ORIGINAL")
        # Windows takes a last '.' away: "exist.ts." would be "exist.ts".
        r = self.box.run("exist.ts.", "@400", "2100")
        self.assertEqual((r.status, r.out),
                         (1, b"Bad file argument 'exist.ts.': it ends with a '.' or a blank, which Windows takes away\r\n"))


class MissingSettings(cases.MissingSettings, Case):
    pass


class Settings(Case):
    settings = b"; remark\r\nI1\r\n@3FF,1\r\n@400,20\r\nI1\r\n"
    images = ("zarnivek.exe", "zarnivek1.exe")

    def test_instance_offset_and_mapping_reach_the_command_line(self):
        # I2 less 1 is 1; 0x400 maps to 0x20, and the 'I' line after the
        # mapping is not read.
        r = self.box.run("rec.ts", "@400", "I2", "2100")
        self.assertEqual(r.status, 0)
        self.assertEqual(r.out, crlf(b"standin ran\n") + self.capture_line(b"zarnivek1.exe", b"rec.ts", b"20", b"2100"))
        self.assertEqual(self.box.calls(), [[self.box.program_path("zarnivek1.exe"), b"rec.ts", b"@20", b"2100"]])


class Wait(Case):
    def local_clock(self):
        """Seconds since midnight on Wine's local clock, and the offset from
        this machine's UTC clock (Wine keeps a time zone of its own)."""
        p = subprocess.run([WINE_RUN, PROBE, "clock"], capture_output=True, check=True, timeout=60)
        h, m, s = (int(x) for x in p.stdout.split(b":"))
        offset = (h * 3600 + m * 60 + s - time.time()) % 86400
        return round(offset / 60) * 60

    def test_counts_down_on_the_real_clock(self):
        offset = self.local_clock()
        # Wait for a second from which a launch 6 s later stays within 10..34.
        harness.wait_for(lambda: 4 <= int(time.time() + offset) % 60 <= 28, "a second to start at", 60)
        now = int(time.time() + offset) % 86400
        launch_second = now % 60 + 6
        lead = 40 - launch_second
        minute = now // 60
        start = (minute + 1) % 1440
        time_arg = "%d:%02d-%d:%02d" % (start // 60, start % 60, (start // 60 + 1) % 24, start % 60)
        self.box.write("quellatorbin.ini", b"M%d,0\n" % lead)
        r = self.box.run("rec.ts", "@1", time_arg)
        self.assertEqual(r.status, 0)
        self.assertGreater(r.elapsed, 4)
        out = r.out.replace(crlf(b"standin ran\n"), b"", 1)
        head, _, tail = out.partition(BLANKING)
        lines = head.split(b"\r")[:-1]
        counts = [int(line[len(b"Please wait..."):]) for line in lines]
        self.assertEqual(lines, [b"Please wait...%d   " % n for n in counts])
        self.assertEqual(counts, sorted(counts, reverse=True))
        self.assertEqual(counts[-1], 1)
        self.assertGreaterEqual(len(set(counts)), 2)
        window = b"%02d:%02d:%02d-%02d:%02d:00" % (minute // 60, minute % 60, 60 - lead, (start // 60 + 1) % 24, start % 60)
        self.assertEqual(tail, self.capture_line(b"zarnivek.exe", b"rec.ts", b"1", window))


class Stop(cases.Stop, Case):
    def test_stop_message_on_a_japanese_console(self):
        # The console of code page 932 shows the Shift_JIS bytes as the text.
        victim = self.box.start_process("zarnivek.exe")
        r = self.box.run("stop", terminal=True, env=JAPANESE)
        self.assertEqual(r.status, 1)
        out = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", r.out)
        self.assertEqual(out, "zarnivek.exe を終了しました。\r\n".encode("utf-8"))
        self.assert_ended(victim)


    def test_a_taskkill_in_the_current_directory_never_runs(self):
        # cmd.exe would find taskkill.bat in the current directory, where
        # recordings land, before the system's own.
        self.box.write("taskkill.bat", b"echo ran> taskkill-ran.txt\r\n")
        victim = self.box.start_process("zarnivek.exe")
        r = self.box.run("stop", cwd=self.box.dir)
        self.assertEqual((r.status, r.out), (1, "zarnivek.exe を終了しました。\r\n".encode("cp932")))
        self.assert_ended(victim)
        self.assertFalse(os.path.exists(self.box.path("taskkill-ran.txt")))


class OutputNames(cases.OutputNames, Case):
    def test_names_with_a_directory_and_relative_to_the_current_directory(self):
        work = self.box.path("work")
        os.mkdir(work)
        open(os.path.join(work, "rec.ts"), "wb").close()
        for args, cwd in (((b"rec.ts",), work), ((b"work\\rec.ts",), None),
                          ((windows_path(work) + b"\\a.b.ts", b"fn"), None)):
            r = self.box.run(*args, "@1", "2100", cwd=cwd)
            self.assertEqual((r.status, r.err), (0, crlf(BANNER)), r.out)
        self.assertEqual([c[1] for c in self.box.calls()],
                         [b"rec(1).ts", b"work\\rec(1).ts", windows_path(work) + b"\\a.b.ts"])


class NameLifetime(Case):
    images = ("zarnivek1.exe", "zarnivek2.exe")

    def test_a_run_ended_by_force_leaves_its_name_taken(self):
        # The capture program creates its file 10 s after it starts. Its run
        # is ended by force meanwhile: the capture program still holds the
        # name, and a second run picks another.
        env = dict(os.environ, STANDIN_SLEEP="10", STANDIN_TOUCH="1")
        first = subprocess.Popen(self.box.argv("late.ts", "@1", "I1", "2100"), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, cwd=self.box.dir)
        self.addCleanup(harness.end_and_reap, first)
        harness.wait_for(lambda: self.box.calls(), "the first capture program runs", 60)
        # The only quellatorbin.exe of this test's own Wine prefix.
        subprocess.run([WINE_RUN, "taskkill", "/F", "/IM", "quellatorbin.exe"], capture_output=True, timeout=60)
        first.wait(30)
        r = self.box.run("late.ts", "@1", "I2", "2100")
        self.assertEqual(r.status, 0)
        self.assertEqual([c[1] for c in self.box.calls()], [b"late.ts", b"late(1).ts"])
        harness.wait_for(lambda: os.path.exists(self.box.path("late.ts")), "the first capture program ends", 30)


class ProgramDirectory(Case):
    def test_characters_cmd_acts_on_never_start_another_program(self):
        # cmd.exe would take '^' away and start the decoy in ...\ab\, and fail
        # on ( ) ; , = with 9009: such a command line is started directly.
        for sub, decoy in (("a^b", "ab"), ("p(1);q,r=s!", None)):
            where = self.box.path(sub)
            os.mkdir(where)
            for name in ("quellatorbin.exe", "quellatorbin.ini"):
                shutil.copy(self.box.path(name), where)
            shutil.copy(STANDIN, os.path.join(where, "zarnivek9.exe"))
            if decoy:
                os.mkdir(self.box.path(decoy))
                shutil.copy(STANDIN, self.box.path(decoy + "/zarnivek9.exe"))
            r = self.box.run("rec.ts", "@1", "I9", "2100", launcher=os.path.join(where, "quellatorbin.exe"), cwd=where)
            self.assertEqual(r.status, 0, sub)
            self.assertEqual(r.out, crlf(b"standin ran\n") +
                             b'%s\\zarnivek9.exe "rec.ts" @1 2100\r\n' % windows_path(where), sub)
            with open(os.path.join(where, "calls.log"), "rb") as f:
                self.assertEqual(f.read().count(b"\n"), 1, sub)
            if decoy:
                self.assertFalse(os.path.exists(self.box.path(decoy + "/calls.log")), "the decoy ran")

    def test_a_directory_with_a_blank_starts_the_program_in_it(self):
        # "...\my tv\zarnivek.exe" unquoted would start "...\my.exe".
        where = self.box.path("my tv")
        os.mkdir(where)
        for name in ("quellatorbin.exe", "quellatorbin.ini", "zarnivek.exe"):
            shutil.copy(self.box.path(name), where)
        for decoy in ("my", "my.exe"):
            shutil.copy(STANDIN, self.box.path(decoy))
        r = self.box.run("rec.ts", "@400", "2100", launcher=os.path.join(where, "quellatorbin.exe"), cwd=where)
        self.assertEqual(r.status, 0)
        program = windows_path(where) + b"\\zarnivek.exe"
        self.assertEqual(r.out, crlf(b"standin ran\n") + b'"%s" "rec.ts" @400 2100\r\n' % program)
        with open(os.path.join(where, "calls.log"), "rb") as f:
            self.assertEqual(f.read(), b"%d:%s6:rec.ts4:@4004:2100\n" % (len(program), program))
        self.assertEqual(self.box.calls(), [], "a decoy ran")


class DoubleByteProgramDirectory(unittest.TestCase):
    def test_trail_byte_5c_is_no_separator(self):
        # '表' is 95 5C in code page 932: a search for the last 0x5C byte would
        # cut the path inside the program's own name.
        # A title in code page 932 is handed on as it is: 表.ts.
        box = WineSandbox(LAUNCHER, STANDIN, b"I1\r\n@400,20\r\n", ("zarnivek.exe",), launcher_name="表.exe")
        self.addCleanup(box.close)
        r = box.run("表.ts", "@400", "I1", "2100", env=JAPANESE)
        self.assertEqual(r.status, 0, r.out)
        self.assertEqual(r.out, crlf(b"standin ran\n") + b'%s "\x95\\.ts" @20 2100\r\n' % box.program_path("zarnivek.exe"))
        self.assertEqual(box.calls(), [[box.program_path("zarnivek.exe"), b"\x95\\.ts", b"@20", b"2100"]])


if __name__ == "__main__":
    WINE_RUN, LAUNCHER, STANDIN, PROBE = (os.path.abspath(a) for a in sys.argv[1:5])
    Case.programs = (LAUNCHER, STANDIN)
    WineSandbox.WRAPPER = [WINE_RUN]
    del sys.argv[1:5]
    # Linux arguments reach Wine as UTF-8, and Windows sees code page 1252.
    os.environ.update({"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
    if "ja_JP.utf8" not in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout:
        sys.exit("the locale ja_JP.UTF-8 is missing: tests/run_all.sh generates it")
    unittest.main(verbosity=2)
