"""Runs the real launcher in a fresh temporary directory (its program
directory) next to a stand-in capture program, and reads back what the
stand-in received. The Linux and the Windows end-to-end tests share it: a
sandbox class says how its platform starts programs and writes texts.

Every process a test starts here is its own, and every wait is bounded: a
launcher that hangs fails its test within the run's timeout."""

import os
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import termios
import unittest
import time

BANNER = b"quellatorbin Ver.0.05\n"
STOP_TAIL = b" \x82\xf0\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n"
BLANKING = b" " * 22 + b"\r"
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"

# QB_MEMCHECK=1: the launcher runs under valgrind's memcheck, and any error
# it finds (an uninitialised read first of all) changes the run's status and
# standard error, so the test fails. Its clock then runs at the real speed.
MEMCHECK = ["valgrind", "-q", "--error-exitcode=99", "--leak-check=no"] if os.environ.get("QB_MEMCHECK") else []


def cannot_start(path, reason):
    """What the launcher writes to standard error when the capture program
    cannot be started. Under valgrind, which starts programs by fork and exec,
    the failed exec happens in the child: only its status (127) comes back."""
    return b"" if MEMCHECK else b"cannot start '%s': %s\n" % (os.fsencode(path), reason)


def stop_message(suffix=b""):
    return b"zarnivek" + suffix + b".exe" + STOP_TAIL


def faketime_env(clock=None, speed=1, frozen=False):
    """The environment that starts a program's local clock at `clock`
    ("YYYY-MM-DD hh:mm:ss", in UTC) and runs it, and its pauses, `speed`
    times as fast, or with `frozen` holds it there; {} for the real clock."""
    if clock is None and speed == 1:
        return {}
    if frozen:
        return {"LD_PRELOAD": FAKETIME_LIB, "FAKETIME": clock, "TZ": "UTC"}
    start = "@" + clock if clock else "+0"
    return {"LD_PRELOAD": FAKETIME_LIB, "FAKETIME": start + (" x%d" % speed if speed != 1 else ""), "TZ": "UTC"}


def wait_for(condition, what, seconds=10):
    """Polls condition() until it holds; fails the test after `seconds`."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("%s: not within %d s" % (what, seconds))
        time.sleep(0.02)


def end_and_reap(p, seconds=10):
    """Ends a process that this test started, and reaps it."""
    if p.poll() is None:
        p.kill()
    try:
        p.wait(seconds)
    except subprocess.TimeoutExpired:
        raise AssertionError("process %d did not end after SIGKILL" % p.pid)


class Result:
    def __init__(self, status, out, err, elapsed, speed=1):
        self.status, self.out, self.err, self.elapsed = status, out, err, elapsed
        # Seconds on the launcher's own clock: its pauses ran `speed` times as fast.
        self.seconds = elapsed * speed


class Sandbox:
    """A temporary program directory holding the launcher, the stand-in under
    the capture program's image names, and a settings file."""

    LAUNCHER_NAME = "quellatorbin"
    WRAPPER = MEMCHECK  # what the launcher is started through (Wine, for the Windows build)
    # The launcher's clock and pauses run this many times as fast (libfaketime),
    # unless a run asks for the real clock.
    SPEED = 1 if MEMCHECK else 10
    NEWLINE = b"\n"
    KILLED = -signal.SIGKILL  # the status of a process that taskkill ended; None: any

    def __init__(self, launcher, standin, settings=b"", images=("zarnivek.exe",)):
        self.dir = tempfile.mkdtemp(prefix="qb-e2e-")
        self.standin = standin
        self.launcher = os.path.join(self.dir, self.LAUNCHER_NAME)
        shutil.copy(launcher, self.launcher)
        for image in images:
            self.add_image(image)
        if settings is not None:
            self.write("quellatorbin.ini", settings)
        self.children = []

    # --- what differs between platforms

    def program_path(self, name):
        """The path the launcher names a file of its directory by."""
        return os.fsencode(self.path(name))

    def text(self, data):
        """Console text as the launcher writes it."""
        return data.replace(b"\n", self.NEWLINE)

    def capture_line(self, image, name, source, window):
        """The echoed capture command line."""
        return b'%s "%s" @%s %s' % (self.program_path(image.decode()), name, source, window) + self.NEWLINE

    def start_process(self, image, seconds=120, where=None):
        """Starts a long-running process whose image name is `image`, from
        `where` (a directory; default: a fresh one outside the sandbox)."""
        where = where or tempfile.mkdtemp(prefix="qb-e2e-other-")
        exe = os.path.join(where, image)
        shutil.copy("/bin/sleep", exe)
        p = subprocess.Popen([exe, str(seconds)])
        self.children.append((p, where))
        return p

    # ---

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def add_image(self, image):
        shutil.copy(self.standin, self.path(image))

    def argv(self, *args, launcher=None):
        return self.WRAPPER + [launcher or self.launcher] + [a if isinstance(a, bytes) else a.encode() for a in args]

    def run(self, *args, env=None, cwd=None, stdout_path=None, clock=None, real_time=False, timeout=30,
            terminal=False, launcher=None, user=None, frozen=False):
        """Runs the launcher (or the copy at `launcher`, as `user`, a uid); clock="YYYY-MM-DD
        hh:mm:ss" starts it at that local time (UTC, unless env names a TZ), frozen there with
        `frozen`; real_time keeps its pauses at their real length; stdout_path sends standard
        output to that file, terminal to a pseudo-terminal."""
        speed = 1 if real_time else self.SPEED
        full_env = dict(os.environ)
        full_env.pop("STANDIN_STATUS", None)
        full_env.update(faketime_env(clock, speed, frozen))
        full_env.update(env or {})
        argv = self.argv(*args, launcher=launcher)
        who = {"user": user, "group": user, "extra_groups": []} if user is not None else {}
        started = time.monotonic()
        if terminal:
            status, stdout, stderr = self._run_on_terminal(argv, full_env, cwd, timeout)
        elif stdout_path:
            with open(stdout_path, "wb") as out:
                p = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.PIPE,
                                   env=full_env, cwd=cwd or self.dir, timeout=timeout)
            with open(stdout_path, "rb") as f:
                status, stdout, stderr = p.returncode, f.read(), p.stderr
        else:
            p = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, env=full_env,
                               cwd=cwd or self.dir, timeout=timeout, **who)
            status, stdout, stderr = p.returncode, p.stdout, p.stderr
        return Result(status, stdout, stderr, time.monotonic() - started, speed)

    def _run_on_terminal(self, argv, env, cwd, timeout):
        master, slave = pty.openpty()
        attrs = termios.tcgetattr(slave)
        attrs[1] &= ~termios.OPOST  # no output processing: bytes arrive as written
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.PIPE,
                             env=env, cwd=cwd or self.dir)
        os.close(slave)
        chunks = []
        deadline = time.monotonic() + timeout
        try:
            while True:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([master], [], [], left)[0]:
                    raise AssertionError("the launcher did not end within %d s" % timeout)
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # the terminal is gone once every writer has closed it
                    break
                if not chunk:
                    break
                chunks.append(chunk)
            status = p.wait(max(deadline - time.monotonic(), 1))
            err = p.stderr.read()
        finally:
            os.close(master)
            end_and_reap(p)
            p.stderr.close()
        return status, b"".join(chunks), err

    def calls(self):
        """The argv of every call of the stand-in, oldest first, as lists of bytes."""
        try:
            with open(self.path("calls.log"), "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return []
        calls, i, argv = [], 0, []
        while i < len(data):
            if data[i:i + 1] == b"\n":
                calls.append(argv)
                argv, i = [], i + 1
                continue
            colon = data.index(b":", i)
            n = int(data[i:colon])
            argv.append(data[colon + 1:colon + 1 + n])
            i = colon + 1 + n
        return calls

    def close(self):
        for p, _ in self.children:
            end_and_reap(p)
        for _, where in self.children:
            shutil.rmtree(where, ignore_errors=True)
        shutil.rmtree(self.dir, ignore_errors=True)


class SandboxCase(unittest.TestCase):
    """A test with a fresh sandbox of its own in self.box. Subclasses may set
    the settings file's bytes and the capture program's image names; the
    programs (launcher, stand-in) and the sandbox class are set before the
    tests run."""

    sandbox_class = Sandbox
    programs = None
    settings = b""
    images = ("zarnivek.exe",)

    def setUp(self):
        launcher, standin = self.programs
        self.box = self.sandbox_class(launcher, standin, self.settings, self.images)
        self.addCleanup(self.box.close)

    def capture_line(self, image, name, source, window):
        return self.box.capture_line(image, name, source, window)

    def assert_ended(self, process):
        """The process (one this test started) was ended by force."""
        try:
            status = process.wait(10)
        except subprocess.TimeoutExpired:
            self.fail("the instance still runs")
        if self.box.KILLED is not None:
            self.assertEqual(status, self.box.KILLED)

    def assert_runs(self, *processes):
        time.sleep(0.2)
        for p in processes:
            self.assertIsNone(p.poll())
