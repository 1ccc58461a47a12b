"""The rooms of the program's code and what each may include (see
docs/design.md). Fails on a stage that reaches up into launcher/ or into
another stage, on shared helpers that reach into anything but themselves, and
on operating-system code (a platform test in the preprocessor, an OS header)
outside platform/, and on a way to the system past the one seam: outside
platform/ only platform/platform.h is included from it, and only
launcher/main.cpp names a platform_ function or the real table; and no two
files of the program include each other's header (a circle: the driver's
file and the check's, say).

usage: include_rule.py SOURCE_DIR"""

import os
import re
import sys

# Room -> the rooms its files may include from.
MAY_INCLUDE = {
    "base": {"base"},
    "platform": {"platform", "base"},
    "settings": {"settings", "platform", "base"},
    "timing": {"timing", "platform", "base"},
    "capture": {"capture", "platform", "base"},
    "launcher": {"launcher", "settings", "timing", "capture", "platform", "base"},
}
OS_TEST = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|__linux__|__unix__|__APPLE__|__MINGW32__|_MSC_VER)\b")
OS_HEADER = re.compile(r"^\s*#\s*include\s*<(windows\.h|io\.h|direct\.h|process\.h|unistd\.h|fcntl\.h|dirent\.h|"
                       r"spawn\.h|signal\.h|sys/[^>]*)>")
OWN_HEADER = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]+"')
PLATFORM_HEADER = re.compile(r'^\s*#\s*include\s*"platform/(?!platform\.h")')
PLATFORM_NAME = re.compile(r"\bplatform_\w+")


def includes(root, path):
    """The program's headers that the file at path includes."""
    with open(os.path.join(root, path), encoding="utf-8") as f:
        return {m.group(1) for m in re.finditer(r'^\s*#\s*include\s*"([^"]+\.h)"', f.read(), re.M)}


def circles(root):
    """Two files that include each other's header (a.cpp includes b.h, and
    b.cpp or b.h includes a.h)."""
    problems = []
    for room in MAY_INCLUDE:
        for name in sorted(os.listdir(os.path.join(root, room))):
            if not name.endswith(".cpp"):
                continue
            path, own = "%s/%s" % (room, name), "%s/%s.h" % (room, name[:-4])
            for header in sorted(includes(root, path) - {own}):
                other = [f for f in (header, header[:-2] + ".cpp") if os.path.exists(os.path.join(root, f))]
                if any(own in includes(root, f) for f in other):
                    problems.append("%s: includes %s, whose file includes %s" % (path, header, own))
    return problems


def main(root):
    problems, files = [], 0
    for room, allowed in MAY_INCLUDE.items():
        for name in sorted(os.listdir(os.path.join(root, room))):
            if not name.endswith((".h", ".cpp")):
                continue
            files += 1
            path = os.path.join(room, name)
            with open(os.path.join(root, path), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    where = "%s:%d: " % (path, number)
                    m = OWN_HEADER.match(line)
                    if m and m.group(1) not in allowed:
                        problems.append(where + "%s/ may not include from %s/" % (room, m.group(1)))
                    if room != "platform" and (OS_TEST.match(line) or OS_HEADER.match(line)):
                        problems.append(where + "operating-system code outside platform/: " + line.strip())
                    if room != "platform" and PLATFORM_HEADER.match(line):
                        problems.append(where + "past the seam: " + line.strip())
                    code = line.split("//")[0]
                    if room != "platform" and path != os.path.join("launcher", "main.cpp") and PLATFORM_NAME.search(code):
                        problems.append(where + "the system reached past the table: " + line.strip())
    problems += circles(root)
    for p in problems:
        print(p)
    print("%d files of %d rooms checked, %d problems" % (files, len(MAY_INCLUDE), len(problems)))
    return 1 if problems or files == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
