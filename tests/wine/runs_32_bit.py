"""Tells whether this machine runs 32-bit x86 programs, by running one: some
kernels run them, others refuse them ("Exec format error"), and no setting
can change that. The program is the smallest there is: an ELF header, one
segment, and three instructions that exit with status 42. Nothing else is
needed for it, so the answer is known before Wine is installed.

Exit status 0 when it ran; 1 when it did not, with the reason on standard
output."""

import os
import struct
import subprocess
import sys
import tempfile

BASE = 0x08048000
ELF_HEADER, PROGRAM_HEADER = 52, 32
# xor ebx, ebx; mov bl, 42; mov eax, 1 (exit); int 0x80
CODE = bytes([0x31, 0xDB, 0xB3, 42, 0xB8, 1, 0, 0, 0, 0xCD, 0x80])


def program():
    size = ELF_HEADER + PROGRAM_HEADER + len(CODE)
    ident = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)  # 32-bit, little-endian, version 1
    # executable, i386, version 1, entry, program headers at 52, no sections, flags, sizes, one program header
    header = struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, BASE + ELF_HEADER + PROGRAM_HEADER, ELF_HEADER, 0, 0,
                         ELF_HEADER, PROGRAM_HEADER, 1, 0, 0, 0)
    # one loadable segment, the whole file, readable and executable
    segment = struct.pack("<IIIIIIII", 1, 0, BASE, BASE, size, size, 5, 0x1000)
    return ident + header + segment + CODE


def main():
    with tempfile.TemporaryDirectory() as where:
        path = os.path.join(where, "i386")
        with open(path, "wb") as f:
            f.write(program())
        os.chmod(path, 0o755)
        try:
            status = subprocess.run([path], timeout=10).returncode
        except OSError as e:
            print(e.strerror)
            return 1
    if status != 42:
        print("a 32-bit program ended with status %d" % status)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
