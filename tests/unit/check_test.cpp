// The check's report, byte for byte: the run's record in, the report out,
// on the fake platform; rows that name a time zone read the local time
// through the C library, from the fake clock's seconds since 1970.
#include "launcher/program.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string>
#include <time.h>
#include <vector>

namespace {

// Settings lines of every kind: a remark; an offset; a full piece that acts,
// with '"' and '\\' in it, and the rest of its line; a mapping from another id;
// a line whose number cannot be read; a remark of 14 characters and a second
// piece that acts; a control byte; the mapping that matches, and the lines it
// leaves unread.
const char ACTING[] = "; remark\nI1\nM10,5 \"a\\b\" and more\n@3FF,1\nIx\n; 123456789012I1\nM3\x01\n"
                      "; another remark\n@400,20 and a tail\nM1,1\n\nI5\n";
const char REMARKS[] = "; a remark\n\n";

struct Row {
    const char* what;
    std::string settings;
    std::vector<const char*> args;
    long long clock;       // seconds: of the day on the fake's UTC clock, or since 1970 with a zone
    const char* tz;        // a zone the C library reads the local time in; nullptr: the fake's
    void (*stage)();       // sets up the rest of the fake, or nullptr
    int status;
    std::string report;
    bool windows = false;          // Windows' rules for names and paths
    bool clock_unreadable = false; // the local time cannot be had
};

const long long H = 3600;

// 33 lines of text, "@" standing for the line's number (or the first n).
std::string many(const std::string& text, int n = 33)
{
    std::string all;
    for (int i = 1; i <= n; i++) {
        std::string line = text;
        size_t at = line.find('@');
        all += at == std::string::npos ? line : line.replace(at, 1, std::to_string(i));
    }
    return all;
}
// What every report begins with, and what a run of "2100" at noon shows
// between its instance and its output name.
#define HEAD "program directory: /fake/\nsettings file: /fake/quellatorbin.ini\n"
#define NOON_2100                                                                                               \
    "source id: 1\ncapture program: /fake/zarnivek.exe\nlocal time: 12:00:00 UTC (+0000)\n"                        \
    "window text: 2100, handed on as given\nlaunch: now, with no wait\n"

// A file argument of 240 characters that the fake's Windows stores with
// look-alikes ('~' as '-').
const std::string LOOK_ALIKE_NAME = "C:\\d\\" + std::string(240, '~') + ".ts";

const Row ROWS[] = {
    // On 2026-03-29 Berlin's clock goes from 02:00 to 03:00: the wait is an
    // hour shorter than the clock face says.
    {"every kind of line, on a day the clock springs forward", ACTING, {"News.ts", "@400", "I2", "5:00-5:30"},
     1774742407, "Europe/Berlin",
     [] {
         fake.existing.insert("News.ts");
         for (int n = 1; n <= 20; n++)
             fake.existing.insert("News(" + std::to_string(n) + ").ts");
     },
     0,
     HEAD
     "line 1: remark\n"
     "line 2: \"I1\": instance number 2 -> 1\n"
     "line 3, piece 1: \"M10,5 \\\"a\\\\b\\\" an\": margins 10 s early, 5 s late\n"
     "line 3 has 20 characters: read as 2 pieces\n"
     "line 4: \"@3FF,1\": a mapping from 3FF, not the source id 400\n"
     "line 5: \"Ix\": ignored, no number could be read\n"
     "line 6, piece 2: \"I1\": instance number 1 -> 0\n"
     "line 6 has 16 characters: read as 2 pieces\n"
     "line 7: \"M3\\x01\": margins 3 s early, 5 s late\n"
     "line 8: remark\n"
     "line 9, piece 1: \"@400,20 and a \": source id 400 -> 20, reading ends\n"
     "the rest of line 9 and the lines after it are not read: the mapping on line 9 matched\n"
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 20 (the argument gave 400)\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 01:00:07 CET (+0100)\n"
     "window text: 04:59:57-05:30:05\n"
     "launch: today at 04:59:37, in 2 h 59 min 30 s\n"
     "output name: News(21).ts (News.ts exists; News(1).ts exists; News(2).ts exists; News(3).ts exists; "
     "News(4).ts exists; News(5).ts exists; News(6).ts exists; News(7).ts exists; News(8).ts exists; News(9).ts exists; "
     "News(10).ts exists; News(11).ts exists; News(12).ts exists; News(13).ts exists; News(14).ts exists; "
     "News(15).ts exists; News(16).ts exists; News(17).ts exists; News(18).ts exists; News(19).ts exists; "
     "and 1 more taken)\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"News(21).ts\" @20 04:59:57-05:30:05\n"},
    {"what keeps a recording from being made", REMARKS, {"x/y.ts", "@1", "I3", "21:00-21:30"}, 20 * H + 59 * 60 + 45,
     nullptr,
     [] {
         fake.cannot_run = "No such file or directory";
         fake.zone = "Europe";
         fake.zone_problem = "TZ=Europe/Berln names no time zone this system knows: the run goes by UTC";
         fake.cannot_create = "No such file or directory";
     },
     2,
     HEAD
     "lines 1 to 2: remarks\n"
     "instance number 3: image name zarnivek3.exe, which does not run now\n"
     "source id: 1\n"
     "problem: the capture program /fake/zarnivek3.exe cannot be started: No such file or directory\n"
     "local time: 20:59:45 Europe (+0000)\n"
     "problem: TZ=Europe/Berln names no time zone this system knows: the run goes by UTC\n"
     "window text: 21:00:00-21:30:00\n"
     "launch: now (the launch moment 20:59:40)\n"
     "output name: x/y.ts\n"
     "problem: no file can be created in the output directory x/: No such file or directory\n"
     "/fake/zarnivek3.exe \"x/y.ts\" @1 21:00:00-21:30:00\n"},
    {"a mapping never considered, a fixed name, no wait", "@FFFFFFFF,1\n;\n", {"a b.ts", "@-1", "2100", "fn"}, 12 * H,
     nullptr, nullptr, 0,
     HEAD
     "line 1: \"@FFFFFFFF,1\": a mapping, not considered: the source id is FFFFFFFF, not above 0\n"
     "line 2: remark\n"
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: FFFFFFFF\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 12:00:00 UTC (+0000)\n"
     "window text: 2100, handed on as given\n"
     "launch: now, with no wait\n"
     "output name: a b.ts, used as given (fn)\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"a b.ts\" @FFFFFFFF 2100\n"},
    {"a stop request", REMARKS, {"stop", "I1"}, 12 * H, nullptr, nullptr, 0,
     HEAD
     "lines 1 to 2: remarks\n"
     "instance number 1: image name zarnivek1.exe, which does not run now: the stop request would end nothing\n"},
    {"a stop request for an instance that runs", "", {"stop"}, 12 * H, nullptr,
     [] { fake.running.insert("zarnivek.exe"); }, 0,
     HEAD
     "instance number 0: image name zarnivek.exe, which runs now: the stop request would end it\n"},
    {"a refusal", REMARKS, {"rec.ts", "@1", "24:30-25:00"}, 12 * H, nullptr, nullptr, 1,
     HEAD
     "lines 1 to 2: remarks\n"
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "Bad time argument '24:30-25:00': the clock never shows its start\n"},
    {"a settings file that cannot be opened", "", {"rec.ts", "@1", "2100"}, 12 * H, nullptr,
     [] { fake.files.clear(); }, 1,
     "program directory: /fake/\n"
     "settings file: /fake/quellatorbin.ini cannot be opened: No such file or directory\n"
     "Cannot open '/fake/quellatorbin.ini'\n"},
    // Each problem alone makes the status 2.
    {"another user's instance", "", {"rec.ts", "@1", "2100"}, 12 * H, nullptr,
     [] {
         fake.running.insert("zarnivek.exe");
         fake.not_endable.insert("zarnivek.exe");
     },
     2,
     HEAD
     "problem: instance number 0: image name zarnivek.exe runs now as another user, and a run cannot end it "
     "(Operation not permitted)\n"
     NOON_2100
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 2100\n"},
    {"a process table that cannot be read", "", {"stop"}, 12 * H, nullptr, [] { fake.scan_failures = 1000; }, 2,
     HEAD
     "problem: instance number 0: whether image name zarnivek.exe runs now cannot be told (Too many open files)\n"},
    {"only the output directory missing", "", {"no/rec.ts", "@1", "2100"}, 12 * H, nullptr,
     [] { fake.cannot_create = "No such file or directory"; }, 2,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     NOON_2100
     "output name: no/rec.ts\n"
     "problem: no file can be created in the output directory no/: No such file or directory\n"
     "/fake/zarnivek.exe \"no/rec.ts\" @1 2100\n"},
    // A zone west of UTC, in the evening, when the UTC date is tomorrow's.
    {"New York evening", "", {"rec.ts", "@1", "21:00-21:30"}, 1796691600, "America/New_York", nullptr, 0,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 20:00:00 EST (-0500)\n"
     "window text: 21:00:00-21:30:00\n"
     "launch: today at 20:59:40, in 0 h 59 min 40 s\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 21:00:00-21:30:00\n"},
    // East of UTC, in the morning, when the UTC date is yesterday's.
    {"Tokyo morning", "", {"rec.ts", "@1", "6:00-6:30"}, 1796680800, "Asia/Tokyo", nullptr, 0,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 07:00:00 JST (+0900)\n"
     "window text: 06:00:00-06:30:00\n"
     "launch: tomorrow at 05:59:40, in 22 h 59 min 40 s\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 06:00:00-06:30:00\n"},
    // 02:29:40 never shows on 2026-03-29 in Berlin: the run launches when
    // the clock jumps over it.
    {"a launch moment in the skipped hour", "", {"rec.ts", "@1", "2:30-3:30"}, 1774742400, "Europe/Berlin", nullptr, 0,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 01:00:00 CET (+0100)\n"
     "window text: 02:30:00-03:30:00\n"
     "launch: today at 03:00:00, in 1 h 0 min 0 s, when the clock jumps over the launch moment 02:29:40\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 02:30:00-03:30:00\n"},
    // Started inside its window, a run records tomorrow's.
    {"a window open now", "", {"rec.ts", "@1", "21:00-21:54"}, 21 * H + 5, nullptr, nullptr, 2,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 21:00:05 UTC (+0000)\n"
     "window text: 21:00:00-21:54:00\n"
     "launch: tomorrow at 20:59:40, in 23 h 59 min 35 s\n"
     "problem: the window 21:00:00-21:54:00 is open now: a run started now records the next one, not this one\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 21:00:00-21:54:00\n"},
    // On Windows a name after a drive letter alone lands in that drive's
    // current directory.
    {"a drive's current directory", "", {"C:crel.ts", "@1", "2100"}, 12 * H, nullptr, nullptr, 0,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     NOON_2100
     "output name: C:crel.ts\n"
     "output directory: the current directory of drive C:\n"
     "/fake/zarnivek.exe \"C:crel.ts\" @1 2100\n",
     true},
    // A name stored with look-alikes, said whole however long.
    {"a long name stored with look-alikes", "", {LOOK_ALIKE_NAME.c_str(), "@1", "2100", "fn"},
     12 * H, nullptr, nullptr, 0,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     NOON_2100
     "the name given is stored as C:\\d\\" + std::string(240, '-') +
         ".ts: look-alikes take the place of characters code page 932 lacks\n"
     "output name: C:\\d\\" + std::string(240, '-') + ".ts, used as given (fn)\n"
     "output directory: C:\\d\\\n"
     "/fake/zarnivek.exe \"C:\\d\\" + std::string(240, '-') + ".ts\" @1 2100\n",
     true},
    // Saved by Notepad as "Unicode".
    {"a settings file in UTF-16", std::string("\xFF\xFEI\0" "1\0\r\0\n\0", 10), {"stop", "I2"}, 12 * H, nullptr, nullptr,
     0,
     "program directory: /fake/\n"
     "settings file: /fake/quellatorbin.ini, saved as UTF-16: read as its characters\n"
     "line 1: \"I1\": instance number 2 -> 1\n"
     "instance number 1: image name zarnivek1.exe, which does not run now: the stop request would end nothing\n"},
    // Its characters as the code page stores them (UTF-8 here), as the check
    // shows those of a file saved so; DEL as the control character it is.
    {"UTF-16 characters and a DEL", fake_utf16("M5 \xE6\x97\xA5\x7F\n@1,2\nI1\n", true), {"stop"}, 12 * H, nullptr,
     nullptr, 0,
     "program directory: /fake/\n"
     "settings file: /fake/quellatorbin.ini, saved as UTF-16: read as its characters\n"
     "line 1: \"M5 \xE6\x97\xA5\\x7F\": margins 5 s early, 0 s late\n"
     "line 2: \"@1,2\": a mapping, not considered: the source id is 0, not above 0\n"
     "line 3: \"I1\": instance number 0 -> 0\n"
     "instance number 0: image name zarnivek.exe, which does not run now: the stop request would end nothing\n"},
    {"33 pieces that act", many("M1\n"), {"stop"}, 12 * H, nullptr, nullptr, 0,
     std::string(HEAD) + many("line @: \"M1\": margins 1 s early, 0 s late\n", 32) + "and 1 more pieces that act, not shown\n"
     "instance number 0: image name zarnivek.exe, which does not run now: the stop request would end nothing\n"},
    // Every window that holds the moment now, across midnight too.
    {"a window across midnight open now", "", {"rec.ts", "@1", "23:30-0:30"}, 10 * 60, nullptr, nullptr, 2,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 00:10:00 UTC (+0000)\n"
     "window text: 23:30:00-00:30:00\n"
     "launch: today at 23:29:40, in 23 h 19 min 40 s\n"
     "problem: the window 23:30:00-00:30:00 is open now: a run started now records the next one, not this one\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 23:30:00-00:30:00\n"},
    {"a window of 23 hours open now", "", {"rec.ts", "@1", "13:00-12:30"}, 12 * H, nullptr, nullptr, 2,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 12:00:00 UTC (+0000)\n"
     "window text: 13:00:00-12:30:00\n"
     "launch: today at 12:59:40, in 0 h 59 min 40 s\n"
     "problem: the window 13:00:00-12:30:00 is open now: a run started now records the next one, not this one\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 13:00:00-12:30:00\n"},
    // In its launch minute a run launches at once: no problem.
    {"the launch minute", "", {"rec.ts", "@1", "21:00-21:30"}, 20 * H + 59 * 60 + 59, nullptr, nullptr, 0,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "local time: 20:59:59 UTC (+0000)\n"
     "window text: 21:00:00-21:30:00\n"
     "launch: now (the launch moment 20:59:40)\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 21:00:00-21:30:00\n"},
    // A clock that cannot be read makes up no launch.
    {"no clock, a window", "", {"rec.ts", "@1", "21:00-21:30"}, 12 * H, nullptr, nullptr, 2,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "problem: the local time cannot be read\n"
     "window text: 21:00:00-21:30:00\n"
     "problem: when the launch comes cannot be told: the local time cannot be read\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 21:00:00-21:30:00\n",
     false, true},
    {"no clock, no wait", "", {"rec.ts", "@1", "2100"}, 12 * H, nullptr, nullptr, 2,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "source id: 1\n"
     "capture program: /fake/zarnivek.exe\n"
     "problem: the local time cannot be read\n"
     "window text: 2100, handed on as given\n"
     "launch: now, with no wait\n"
     "output name: rec.ts\n"
     "output directory: the current directory\n"
     "/fake/zarnivek.exe \"rec.ts\" @1 2100\n",
     false, true},
    // A suffix byte of 0 names the default instance.
    {"instance number 208", "", {"stop", "I208"}, 12 * H, nullptr, nullptr, 0,
     HEAD
     "instance number 208 names zarnivek.exe, as instance 0 does\n"
     "instance number 208: image name zarnivek.exe, which does not run now: the stop request would end nothing\n"},
    // What a run refuses with, and why.
    {"arguments missing", "", {"x", "@zz", "2100"}, 12 * H, nullptr, nullptr, 1,
     HEAD
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "missing: the output file, an argument that holds a '.' (rec.ts)\n"
     "missing: the source id, an argument that begins with '@', in hex and not 0 (@400)\n"
     "Not enough Parameter! (0,3,0)\n"},
    {"the time missing, the source id mapped to 0", "@1,0\n", {"rec.ts", "@1"}, 12 * H, nullptr, nullptr, 1,
     HEAD
     "line 1: \"@1,0\": source id 1 -> 0, reading ends\n"
     "the lines after line 1 are not read: the mapping on line 1 matched\n"
     "instance number 0: image name zarnivek.exe, which does not run now\n"
     "missing: the source id, an argument that begins with '@', in hex and not 0 (@400), after the settings file's "
     "mapping\n"
     "missing: the time, an argument that begins with a digit (21:00-21:30, or 2100 to hand on)\n"
     "Not enough Parameter! (0,0,1)\n"},
};

class Check : public testing::Test {
protected:
#ifndef _WIN32 // zones by name are the C library's of Linux
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }
#endif
    void check(const Row& r)
    {
        SCOPED_TRACE(r.what);
        Platform os = r.windows ? fake_windows_platform() : fake_platform();
        fake.files[fake.program_dir + "quellatorbin.ini"] = r.settings;
        fake.clock_ms = r.clock * 1000;
        if (r.tz) {
#ifdef _WIN32
            return;
#else
            setenv("TZ", r.tz, 1);
            tzset();
            os.local_time = platform_os.local_time;
#endif
        }
        if (r.stage)
            r.stage();
        if (r.clock_unreadable)
            os.local_time = [](int64_t, LocalTime* out) { return *out = LocalTime{}, false; };
        std::vector<const char*> argv = r.args;
        argv.insert(argv.begin(), "--check");
        argv.insert(argv.begin(), "quellatorbin");
        EXPECT_EQ(launcher_run((int)argv.size(), argv.data(), os), r.status);
        EXPECT_EQ(fake.out, r.report);
        EXPECT_EQ(fake.sleeps.size(), 0u) << "the check pauses no one";
    }
};

TEST_F(Check, ReportsFromTheRunsRecord)
{
    for (const Row& r : ROWS)
        check(r);
}

} // namespace
