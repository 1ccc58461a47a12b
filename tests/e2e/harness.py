"""Runs the real launcher in a fresh temporary directory (its program
directory) next to a stand-in capture program, and reads back what the
stand-in received."""

import os
import pty
import shutil
import subprocess
import tempfile
import termios
import unittest
import time

BANNER = b"quellatorbin Ver.0.05\n"
STOP_TAIL = b" \x82\xf0\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\n"
BLANKING = b" " * 22 + b"\r"
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"


def stop_message(suffix=b""):
    return b"zarnivek" + suffix + b".exe" + STOP_TAIL


class Result:
    def __init__(self, status, out, err, elapsed):
        self.status, self.out, self.err, self.elapsed = status, out, err, elapsed


class Sandbox:
    """A temporary program directory holding the launcher, the stand-in under
    the capture program's image names, and a settings file."""

    LAUNCHER_NAME = "quellatorbin"
    WRAPPER = []  # what the launcher is started through (Wine, for the Windows build)

    def __init__(self, launcher, standin, settings=b"", images=("zarnivek.exe",)):
        self.dir = tempfile.mkdtemp(prefix="qb-e2e-")
        self.launcher = os.path.join(self.dir, self.LAUNCHER_NAME)
        shutil.copy(launcher, self.launcher)
        for image in images:
            shutil.copy(standin, os.path.join(self.dir, image))
        if settings is not None:
            self.write("quellatorbin.ini", settings)
        self.children = []

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def run(self, *args, env=None, cwd=None, stdout_path=None, clock=None, timeout=60, terminal=False):
        """Runs the launcher; clock="YYYY-MM-DD hh:mm:ss" starts it at that local time;
        stdout_path sends standard output to that file, terminal to a pseudo-terminal."""
        full_env = dict(os.environ)
        full_env.pop("STANDIN_STATUS", None)
        if clock:
            full_env["LD_PRELOAD"] = FAKETIME_LIB
            full_env["FAKETIME"] = "@" + clock
            full_env["TZ"] = "UTC"
        full_env.update(env or {})
        argv = self.WRAPPER + [self.launcher] + [a if isinstance(a, bytes) else a.encode() for a in args]
        started = time.monotonic()
        if terminal:
            return self._run_on_terminal(argv, full_env, cwd, timeout, started)
        if stdout_path:
            with open(stdout_path, "wb") as out:
                p = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.PIPE,
                                   env=full_env, cwd=cwd or self.dir, timeout=timeout)
            with open(stdout_path, "rb") as f:
                stdout = f.read()
        else:
            p = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, env=full_env,
                               cwd=cwd or self.dir, timeout=timeout)
            stdout = p.stdout
        return Result(p.returncode, stdout, p.stderr, time.monotonic() - started)

    def _run_on_terminal(self, argv, env, cwd, timeout, started):
        master, slave = pty.openpty()
        attrs = termios.tcgetattr(slave)
        attrs[1] &= ~termios.OPOST  # no output processing: bytes arrive as written
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.PIPE,
                             env=env, cwd=cwd or self.dir)
        os.close(slave)
        chunks = []
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal is gone once every writer has closed it
                break
            if not chunk:
                break
            chunks.append(chunk)
        os.close(master)
        err = p.stderr.read()
        p.stderr.close()
        status = p.wait(timeout)
        return Result(status, b"".join(chunks), err, time.monotonic() - started)

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

    def start_process(self, image, seconds=120, where=None):
        """Starts a long-running process whose image name is `image`, from
        `where` (a directory; default: a fresh one outside the sandbox)."""
        where = where or tempfile.mkdtemp(prefix="qb-e2e-other-")
        exe = os.path.join(where, image)
        shutil.copy("/bin/sleep", exe)
        p = subprocess.Popen([exe, str(seconds)])
        self.children.append((p, where))
        return p

    def close(self):
        for p, _ in self.children:
            if p.poll() is None:
                p.kill()
            p.wait()
        for _, where in self.children:
            shutil.rmtree(where, ignore_errors=True)
        shutil.rmtree(self.dir, ignore_errors=True)


class SandboxCase(unittest.TestCase):
    """A test with a fresh sandbox of its own in self.box. Subclasses may set
    the settings file's bytes and the capture program's image names; the
    programs (launcher, stand-in) are set before the tests run."""

    sandbox_class = Sandbox
    programs = None
    settings = b""
    images = ("zarnivek.exe",)

    def setUp(self):
        launcher, standin = self.programs
        self.box = self.sandbox_class(launcher, standin, self.settings, self.images)
        self.addCleanup(self.box.close)
