"""Every call the platform files make to the system goes through a row of
the platform's fault table (platform/posix_calls.h, platform/win32_calls.h),
called as SYS(f), so that the fault sweep (tests/unit/fault_sweep_test.cpp)
can make it fail.

Fails on an object file that refers to a function which is neither a row
nor one of the platform's pure functions below (formatting, strings, signal
sets, the error number, the last error), nor the program's own; on one that
calls a row's function directly, past the table; and when the rows differ
from the functions the source files call through SYS (a row no file calls
is dead; a file that calls SYS(f) for no row does not compile).

usage: every_call_a_row.py NM ROWS_HEADER --objects O... --sources S... [--own O...]
                           [--expect LABEL...]
The rows header names the platform. --own: further objects whose
definitions count as the program's own. With --expect, the run passes only
when exactly those findings are made, each "<symbol>:<kind>" (the check of
the check); the rows are not counted."""

import os
import re
import subprocess
import sys

# Functions that reach no system: they read and write memory they are given,
# the error number, the stack protector's guard; and the data the C library
# holds (the streams fwrite is given, the environment posix_spawn hands on,
# the zone names tzset fills), and the table itself.
PURE = {
    "memcmp", "memcpy", "memmove", "memset", "memchr", "strlen", "strnlen", "strcmp", "strncmp", "strchr",
    "strrchr", "strspn", "strcspn", "strstr", "strtol", "strtoul", "snprintf", "vsnprintf", "strerror",
    "stack_chk_fail", "stack_chk_guard", "stdout", "stderr", "stdin", "platform_calls",
}
PURE_OF = {
    # The running program's own ELF header, which the linker maps, too.
    "posix_calls.h": {"strtoll", "strtoull", "sigemptyset", "sigaddset", "sigdelset", "sigfillset", "sigismember",
                      "errno_location", "environ", "tzname", "ehdr_start"},
    # The thread's last error, the C runtime's own tables, and what the
    # compiler calls (stack probes).
    "win32_calls.h": {"wcslen", "wcscmp", "atoi", "snwprintf", "vsnwprintf", "mingw_snprintf", "mingw_vsnprintf",
                      "mingw_snwprintf", "mingw_vsnwprintf", "GetLastError", "SetLastError", "errno",
                      "acrt_iob_func", "iob_func", "chkstk_ms", "chkstk", "alloca"},
}
# What a sanitizer or coverage build adds (UBSan's check of the types of
# functions called through pointers refers to the C++ ABI's type information).
TOOL_PREFIXES = ("asan_", "ubsan_", "sanitizer_", "sancov_", "llvm_", "gcov_", "start___sancov", "stop___sancov",
                 "ZTVN10__cxxabiv1", "ZTIN10__cxxabiv1")


def base_name(symbol):
    """A symbol as its function is named: without an import's "__imp_",
    leading underscores, a stdcall "@<bytes>", a fortified variant's _chk,
    an ISO C variant's prefix."""
    name = re.sub(r"^_+", "", re.sub(r"^__imp_", "", symbol))
    name = re.sub(r"^isoc(99|23)_", "", re.sub(r"@[0-9]+$", "", name))
    if symbol.startswith("__") and name.endswith("_chk"):
        name = name[: -len("_chk")]
    return name


def symbols(nm, obj, defined):
    option = "--defined-only" if defined else "-u"
    listing = subprocess.run([nm, option, obj], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in listing.splitlines():
        parts = line.split()
        if parts and (defined or parts[0] in ("U", "u", "w")):
            names.add(parts[-1])
    return names


def rows_of(header):
    with open(header, encoding="utf-8") as f:
        return re.findall(r"^\s*X\((\w+)", f.read(), re.M)


def sys_calls(source, windows):
    """The rows a source file calls through SYS, outside its parts for the
    other platform."""
    called, parts = set(), []  # each open #if: True a Windows part, False the rest, None neither
    with open(source, encoding="utf-8") as f:
        for line in f:
            directive = re.match(r"\s*#\s*(ifdef|ifndef|if|else|elif|endif)\b(.*)", line)
            if directive:
                word, rest = directive.groups()
                if word in ("ifdef", "ifndef", "if"):
                    parts.append((word != "ifndef" and "!" not in rest) if "_WIN32" in rest else None)
                elif word in ("else", "elif") and parts and parts[-1] is not None:
                    parts[-1] = not parts[-1]
                elif word == "endif" and parts:
                    parts.pop()
                continue
            if all(p is None or p == windows for p in parts):
                called.update(re.findall(r"\bSYS\((\w+)\)", line))
    return called


def main(argv):
    nm, header = argv[0], argv[1]
    lists, key = {"--objects": [], "--sources": [], "--own": [], "--expect": []}, None
    for arg in argv[2:]:
        if arg in lists:
            key = arg
        elif key:
            lists[key].extend(a for a in arg.split(";") if a)
    objects, expect = lists["--objects"], lists["--expect"]
    pure = PURE | PURE_OF[os.path.basename(header)]
    rows = set(rows_of(header))
    plain_rows = {base_name(row) for row in rows}
    own = set()
    for obj in objects + lists["--own"]:
        own |= symbols(nm, obj, True)

    findings, report = set(), []
    for obj in objects:
        for symbol in sorted(symbols(nm, obj, False) - own):
            name = base_name(symbol)
            if name in plain_rows:
                kind = "direct"
                why = "calls a row's function past the table: call it as SYS(%s)" % name
            elif name in pure or name.startswith(TOOL_PREFIXES):
                continue
            else:
                kind = "no row"
                why = ("is no row of the fault table: add X(%s, <how it fails>) to %s and call it as SYS(%s)"
                       % (name, header, name))
            findings.add("%s:%s" % (name, kind))
            report.append("%s: %s %s" % (obj, symbol, why))

    if expect:
        if sorted(findings) != sorted(expect):
            print("expected %s, found %s" % (sorted(expect), sorted(findings)))
            print("\n".join(report))
            return 1
        print("the check finds %s" % ", ".join(sorted(findings)))
        return 0

    called = set()
    for source in lists["--sources"]:
        called |= sys_calls(source, header.endswith("win32_calls.h"))
    for name in sorted(rows - called):
        report.append("row %s is called by no platform file: take it out of %s" % (name, header))
    for name in sorted(called - rows):
        report.append("SYS(%s) has no row in %s" % (name, header))
    print("\n".join(report) if report else
          "%d rows, each called through the table; %d objects call nothing else of the system"
          % (len(rows), len(objects)))
    return 1 if report or not objects or not rows else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
