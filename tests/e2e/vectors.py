"""Cases that the end-to-end tests of the Linux build and of the Windows build
(under Wine) both hold the program to. Messages are written here with a bare
line feed; the Windows build writes them in text mode, with CR LF."""

# The capture program's exit statuses that the launcher passes on unchanged.
STATUSES = (0, 7, 255)

# Refusals before any wait, stop or launch: the arguments, then the one line
# on standard output. Each also pauses 6 s and exits 1.
REFUSALS = [
    (("rec.ts", "@400"), b"Not enough Parameter! (400,0,1)\n"),
    ((), b"Not enough Parameter! (0,0,0)\n"),
    (("2100", "@0", "rec.ts"), b"Not enough Parameter! (0,1,3)\n"),
    (("rec.ts", "@1", "21:xx"), b"Bad time argument '21:xx': expected HH:MM-HH:MM\n"),
    (("rec.ts", "@1", "24:30-25:00"), b"Bad time argument '24:30-25:00': the clock never shows its start\n"),
    (("rec.ts", "@1", "21:00-2000000000:2000000000"),
     b"Bad time argument '21:00-2000000000:2000000000': its window text is longer than 31 characters\n"),
    (("rec.ts", "@1", "2100&calc"),
     b"Bad time argument '2100&calc': it holds a blank, a control character or one of \" & | < > ^ %\n"),
    (('a"b.ts', "@1", "2100"), b"Bad file argument 'a\"b.ts': it holds a double quotation mark\n"),
    (("x" * 509 + ".ts", "@1", "2100"),
     b"Bad file argument '" + b"x" * 300 + b"...': longer than 511 characters\n"),
]

# Output file names that must reach the capture program byte for byte: blanks,
# the characters that a command interpreter acts on (those a Windows file
# name may hold), and the '%' of a %NAME% sequence, which the Windows command
# interpreter would expand even inside double quotation marks.
LITERAL_NAMES = [
    b"a b.ts", b"$HOME.ts", b"`id`.ts", b"x; rm -rf y.ts", b"it's.ts", b"a&b^c;d.ts",
    b"100%.ts", b"News %OS% special.ts", b"%PATH%%.ts", b"(1)!x!.ts",
]
