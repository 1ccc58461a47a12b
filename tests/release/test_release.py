"""The release of this build: cpack's archive holds one directory with the
program, the sample settings file, the licence and the users' README, as
each platform's users expect them; `cmake --install` lays out the same
directory; the program is stripped and carries what the platform shows
(Windows: version resource, manifest, no link time; Linux: the newest C
library version it needs is the one the README names).

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


class Release(unittest.TestCase):
    windows = property(lambda self: PLATFORM == "windows")

    def expected(self):
        """Archive member -> the file of this build it must equal."""
        program = "quellatorbin.exe" if self.windows else "quellatorbin"
        readme = "README.txt" if self.windows else "README.md"
        release = os.path.join(BUILD, "release")
        return {program: os.path.join(BUILD, program), "quellatorbin.ini": os.path.join(release, "quellatorbin.ini"),
                "LICENSE": os.path.join(release, "LICENSE"), readme: os.path.join(release, readme)}

    def test_archive_holds_one_directory_with_the_program_settings_licence_and_readme(self):
        name = "quellatorbin-0.05-" + ("win32" if self.windows else "linux-x86_64")
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([CPACK, "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                           check=True, capture_output=True, timeout=120)
            packages = sorted(n for n in os.listdir(out) if n.endswith((".zip", ".tar.gz")))
            self.assertEqual(packages, [name + (".zip" if self.windows else ".tar.gz")])
            path = os.path.join(out, packages[0])
            if self.windows:
                with zipfile.ZipFile(path) as z:
                    members = [i.filename for i in z.infolist() if not i.is_dir()]
                    files = {n: z.read(n) for n in members}
            else:
                with tarfile.open(path) as t:
                    members = [m.name for m in t.getmembers() if m.isfile()]
                    files = {n: t.extractfile(n).read() for n in members}
        want = self.expected()
        self.assertEqual(members, sorted(members), "members stand in name order")
        self.assertEqual(sorted(members), sorted(name + "/" + m for m in want))
        for member, built in want.items():
            with open(built, "rb") as f:
                self.assertEqual(files[name + "/" + member], f.read(), member)
        for member in want:
            data = files[name + "/" + member]
            if member.endswith("quellatorbin.exe") or member == "quellatorbin":
                continue
            if self.windows:
                self.assertNotIn(b"\n", data.replace(b"\r\n", b""), member + ": CR LF line ends")
            else:
                self.assertNotIn(b"\r", data, member)
        readme = files[name + "/" + ("README.txt" if self.windows else "README.md")].decode()
        self.assertIn("## Settings file", readme)
        self.assertIn("## Exit status and messages", readme)
        for developers in ("## The two commands", "## Layout", "docs/", "run_all.sh"):
            self.assertNotIn(developers, readme)
        self.assertIn("## For Windows users" if self.windows else "## For Linux users", readme)
        self.assertNotIn("## For Linux users" if self.windows else "## For Windows users", readme)

    def test_install_lays_out_the_programs_own_directory(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix], check=True, capture_output=True,
                           timeout=120)
            self.assertEqual(sorted(os.listdir(prefix)), sorted(self.expected()))

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
        for readme in (os.path.join(SOURCE, "README.md"), os.path.join(BUILD, "release", "README.md")):
            with open(readme) as f:
                self.assertTrue("glibc %s or newer" % GLIBC_MINIMUM in f.read(), "%s names another minimum" % readme)


if __name__ == "__main__":
    CPACK, CMAKE, BUILD, SOURCE, PLATFORM, GLIBC_MINIMUM = sys.argv[1:7]
    del sys.argv[1:7]
    unittest.main(verbosity=2)
