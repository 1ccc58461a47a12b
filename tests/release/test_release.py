"""The release of this build: cpack's archive holds one directory with the
program, the sample settings file, the licence and the users' README, the
README as Notepad and a new user need it; `cmake --install` installs as each
platform's users expect; the program is stripped and carries what the
platform shows (Windows: version resource, manifest, no link time; Linux: the
newest C library version it needs is the one the READMEs name).

usage: test_release.py CPACK CMAKE BUILD_DIR SOURCE_DIR windows|linux GLIBC_MINIMUM"""

import os
import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

CPACK = CMAKE = BUILD = SOURCE = PLATFORM = GLIBC_MINIMUM = None
WINDOWS_7_TO_11 = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


def pe_image(data):
    """The machine type, the link time, the symbol table, the section names
    and the resources ({(type, id): bytes}) of a PE image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "no PE image"
    machine, count, timestamp, symbols, symbol_count, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    sections = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i) for i in range(count)]

    def offset(rva):
        for _, size, address, raw_size, raw in sections:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise AssertionError("RVA %x lies in no section" % rva)

    base = offset(resource_rva)

    def entries(at):
        named, numbered = struct.unpack_from("<HH", data, at + 12)
        return [struct.unpack_from("<II", data, at + 16 + 8 * i) for i in range(named + numbered)]

    resources = {}
    for kind, names in entries(base):
        for name, languages in entries(base + (names & 0x7FFFFFFF)):
            for _, leaf in entries(base + (languages & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                resources[(kind, name)] = data[offset(rva):offset(rva) + size]
    names = [s[0].rstrip(b"\0").decode() for s in sections]
    return machine, timestamp, (symbols, symbol_count), names, resources


def version_resource(blob):
    """The file and product versions (four numbers each) and the strings of
    a VS_VERSIONINFO resource."""
    fixed = blob.index(struct.pack("<I", 0xFEEF04BD))
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", blob, fixed + 8)

    def numbers(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    text = blob.decode("utf-16-le", errors="replace")
    strings = dict(re.findall(r"(FileDescription|FileVersion|ProductName|ProductVersion|OriginalFilename|"
                              r"LegalCopyright)\x00+([^\x00]+)", text))
    return numbers(file_ms, file_ls), numbers(product_ms, product_ls), strings


# What the first screen of the users' README must name, so that it gets a user
# from unpacking to a checked first recording: (what, the text that names it).
FIRST_SCREEN = [
    ("unpacking the archive", "Unzip the archive into a folder of its own"),
    ("the capture program installed next to the program", "next to quellatorbin.exe"),
    ("the capture program's name", "zarnivek.exe"),
    ("the settings file", "quellatorbin.ini"),
    ("the check before the first recording", "--check"),
    ("the statuses of the check", "status 2"),
]
FIRST_SCREEN_LINES = 25
LINE_MAX = 99


def installed_files(root):
    """The files under root, as paths relative to it with '/' between parts."""
    return sorted(os.path.relpath(os.path.join(d, n), root).replace(os.sep, "/")
                  for d, _, names in os.walk(root) for n in names)


class Release(unittest.TestCase):
    windows = property(lambda self: PLATFORM == "windows")
    program = property(lambda self: "quellatorbin.exe" if self.windows else "quellatorbin")
    line_end = property(lambda self: b"\r\n" if self.windows else b"\n")
    archive = None  # {member: bytes} of the archive cpack packs, once

    def setUp(self):
        if Release.archive is None:
            Release.archive = self.pack()

    def pack(self):
        """Packs this build's archive and gives its members' names, in the
        archive's order, and their bytes."""
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([CPACK, "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                           check=True, capture_output=True, timeout=120)
            packages = sorted(n for n in os.listdir(out) if n.endswith((".zip", ".tar.gz")))
            self.assertEqual(packages, [self.directory() + (".zip" if self.windows else ".tar.gz")])
            path = os.path.join(out, packages[0])
            if self.windows:
                with zipfile.ZipFile(path) as z:
                    members = [i.filename for i in z.infolist() if not i.is_dir()]
                    return members, {n: z.read(n) for n in members}
            with tarfile.open(path) as t:
                members = [m.name for m in t.getmembers() if m.isfile()]
                return members, {n: t.extractfile(n).read() for n in members}

    def directory(self):
        return "quellatorbin-0.05-" + ("win32" if self.windows else "linux-x86_64")

    def expected(self):
        """Archive member -> the file of this build it must equal."""
        release = os.path.join(BUILD, "release")
        return {self.program: os.path.join(BUILD, self.program),
                "quellatorbin.ini": os.path.join(release, "quellatorbin.ini"),
                "LICENSE": os.path.join(release, "LICENSE"), "README.txt": os.path.join(release, "README.txt")}

    def assertSameFiles(self, where, want):
        """Each file of want ({relative path: built file}) stands under where with the built file's bytes."""
        for path, built in want.items():
            with open(os.path.join(where, path), "rb") as a, open(built, "rb") as b:
                self.assertEqual(a.read(), b.read(), path)

    def test_archive_holds_one_directory_with_the_program_settings_licence_and_readme(self):
        members, files = Release.archive
        want = self.expected()
        self.assertEqual(members, sorted(members), "members stand in name order")
        self.assertEqual(sorted(members), sorted(self.directory() + "/" + m for m in want))
        for member, built in want.items():
            with open(built, "rb") as f:
                self.assertEqual(files[self.directory() + "/" + member], f.read(), member)
        for member in ("quellatorbin.ini", "LICENSE", "README.txt"):
            rest = files[self.directory() + "/" + member].replace(self.line_end, b"")
            self.assertFalse(b"\r" in rest or b"\n" in rest, member + ": this platform's line ends alone")

    def test_readme_is_the_users_readme_as_notepad_reads_it(self):
        data = Release.archive[1][self.directory() + "/README.txt"]
        with open(os.path.join(SOURCE, "docs", "users-readme.txt"), "rb") as f:
            source = f.read()
        self.assertNotIn(b"\r", source, "docs/users-readme.txt is kept with LF")
        self.assertEqual(data, source.replace(b"\n", self.line_end), "the kept text, with this platform's line ends")
        bom = data.startswith(b"\xef\xbb\xbf")
        text = data[3 if bom else 0:].decode("utf-8" if bom else "ascii")  # fails on other bytes
        lines = text.split(self.line_end.decode())
        self.assertEqual(lines[-1], "", "the last line ends too")
        for number, line in enumerate(lines, 1):
            self.assertLessEqual(len(line), LINE_MAX, "line %d is %d characters long" % (number, len(line)))
        self.assertTrue(lines[0].startswith("quellatorbin 0.05"), "the first line names the version")
        first_screen = "\n".join(lines[:FIRST_SCREEN_LINES])
        for what, phrase in FIRST_SCREEN:
            self.assertIn(phrase, first_screen, "the first %d lines name %s" % (FIRST_SCREEN_LINES, what))
        self.assertIn("glibc %s or newer" % GLIBC_MINIMUM, text, "the C library the Linux program needs")

    def test_install_lays_out_what_each_platforms_users_expect(self):
        release = os.path.join(BUILD, "release")
        if self.windows:
            # The program's own directory, as in the archive.
            want = self.expected()
        else:
            docs = "share/doc/quellatorbin/"
            want = {"bin/quellatorbin": os.path.join(BUILD, "quellatorbin"),
                    "bin/quellatorbin.ini": os.path.join(release, "quellatorbin.ini"),
                    docs + "README.txt": os.path.join(release, "README.txt"),
                    docs + "LICENSE": os.path.join(release, "LICENSE"),
                    docs + "quellatorbin.ini": os.path.join(release, "quellatorbin.ini")}
        with tempfile.TemporaryDirectory() as root:
            # A prefix; the same under DESTDIR, as a package build installs.
            for prefix, destdir in (("prefix", None), ("/usr", "staged")):
                where = os.path.join(root, destdir) + prefix if destdir else os.path.join(root, prefix)
                env = dict(os.environ, DESTDIR=os.path.join(root, destdir)) if destdir else None
                install = [CMAKE, "--install", BUILD, "--prefix", prefix if destdir else where]
                subprocess.run(install, check=True, capture_output=True, timeout=120, env=env)
                self.assertEqual(installed_files(where), sorted(want), prefix)
                self.assertSameFiles(where, want)
            if self.windows:
                return
            # Installed again, over a settings file that holds a user's settings
            # and is older than the sample (install would replace it by time): kept.
            settings = os.path.join(root, "prefix", "bin", "quellatorbin.ini")
            with open(settings, "w") as f:
                f.write("I1\nM10,5\n")
            os.utime(settings, (946684800, 946684800))
            subprocess.run([CMAKE, "--install", BUILD, "--prefix", os.path.join(root, "prefix")], check=True,
                           capture_output=True, timeout=120)
            with open(settings) as f:
                self.assertEqual(f.read(), "I1\nM10,5\n", "a user's settings file is kept")
            self.assertSameFiles(os.path.join(root, "prefix"), {k: v for k, v in want.items() if k != "bin/quellatorbin.ini"})

    def test_windows_program_is_32_bit_stripped_and_carries_version_and_manifest(self):
        if not self.windows:
            self.skipTest("the Windows build")
        with open(os.path.join(BUILD, "quellatorbin.exe"), "rb") as f:
            machine, timestamp, symbols, sections, resources = pe_image(f.read())
        self.assertEqual(machine, 0x14C, "the program that ships is the 32-bit one (i386)")
        self.assertEqual(timestamp, 0, "no link time: two builds give the same bytes")
        self.assertEqual(symbols, (0, 0), "no symbol table")
        self.assertEqual([s for s in sections if s.startswith(("/", ".debug"))], [], "no debug sections")
        file_version, product_version, strings = version_resource(resources[(16, 1)])
        self.assertEqual((file_version, product_version), ((0, 0, 5, 0), (0, 0, 5, 0)))
        with open(os.path.join(SOURCE, "LICENSE")) as f:
            copyright_line = next(line.strip() for line in f if line.startswith("Copyright"))
        self.assertEqual(strings, {
            "FileDescription": "Starts the capture program for one recording", "FileVersion": "0.05",
            "ProductName": "quellatorbin", "ProductVersion": "0.05", "OriginalFilename": "quellatorbin.exe",
            "LegalCopyright": copyright_line})
        manifest = ElementTree.fromstring(resources[(24, 1)])
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "c": "urn:schemas-microsoft-com:compatibility.v1"}
        level = manifest.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", ns)
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("asInvoker", "false"))
        supported = {e.get("Id") for e in manifest.findall("c:compatibility/c:application/c:supportedOS", ns)}
        self.assertEqual(supported, WINDOWS_7_TO_11)

    def test_linux_programs_are_stripped_and_need_the_named_c_library(self):
        if self.windows:
            self.skipTest("the Linux build")
        for program in ("quellatorbin", "zarnivek.exe"):
            sections = subprocess.run(["readelf", "-S", "-W", os.path.join(BUILD, program)], check=True,
                                      capture_output=True, text=True).stdout
            self.assertNotIn(".symtab", sections, program)
            self.assertNotIn(".debug", sections, program)
        symbols = subprocess.run(["objdump", "-T", os.path.join(BUILD, "quellatorbin")], check=True,
                                 capture_output=True, text=True).stdout
        versions = {tuple(int(n) for n in v.split(".")) for v in re.findall(r"GLIBC_([0-9.]+)", symbols)}
        newest = ".".join(str(n) for n in max(versions))
        self.assertEqual(newest, GLIBC_MINIMUM, "the newest C library version the program needs")
        with open(os.path.join(SOURCE, "README.md")) as f:
            self.assertIn("glibc %s or newer" % GLIBC_MINIMUM, f.read(), "README.md names the minimum")


if __name__ == "__main__":
    CPACK, CMAKE, BUILD, SOURCE, PLATFORM, GLIBC_MINIMUM = sys.argv[1:7]
    del sys.argv[1:7]
    unittest.main(verbosity=2)
