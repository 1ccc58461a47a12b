#include "capture/capture.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

namespace {

const std::string STOP_TAIL = " \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n";

TEST(Capture, SuffixFromInstanceNumber)
{
    const struct {
        int32_t instance;
        const char* want;
    } cases[] = {
        {0, ""}, {1, "1"}, {2, "2"}, {9, "9"}, {10, ":"}, {-1, "/"}, {208, ""}, {464, ""}, {-48, ""}, {256, "0"},
    };
    for (const auto& c : cases) {
        char suffix[2] = {'x', 'x'};
        capture_suffix(c.instance, suffix, sizeof suffix);
        EXPECT_STREQ(suffix, c.want) << c.instance;
    }
}

TEST(Capture, UnsafeSuffixesAreFound)
{
    for (const char* ok : {"", "1", "9", ":", "A", "~", "\x80"})
        EXPECT_TRUE(capture_suffix_is_safe(ok)) << ok;
    // Wildcards would end other instances; the rest split or redirect the command.
    for (const char* bad : {"*", "?", " ", "\"", "&", "|", "<", ">", "^", "%", "/", "\\", "\t", "\x7f"})
        EXPECT_FALSE(capture_suffix_is_safe(bad)) << bad;
}

// The stop command's status says whether it ended something; any status but
// 0 and 128 (none found) leaves a process that may still run, and the
// process table tells why in one line.
TEST(Capture, EndInstanceRunsStopCommandAndSaysWhatItCouldNotEnd)
{
    enum Table { NOTHING, RUNS, NOT_ENDABLE, UNREADABLE };
    const struct {
        const char* suffix;
        int status;
        Table table; // what the process table shows after the stop command
        bool ended;
        std::string out;
    } cases[] = {
        {"", 0, NOTHING, true, "zarnivek.exe" + STOP_TAIL},
        {"2", 0, NOTHING, true, "zarnivek2.exe" + STOP_TAIL},
        {"2", 128, RUNS, false, ""},
        {"1", 1, NOT_ENDABLE, false, "Cannot end zarnivek1.exe: Operation not permitted\n"},
        {"2", 1, UNREADABLE, false, "Cannot tell whether zarnivek2.exe runs: Too many open files\n"},
        {"", -1, RUNS, false, "Cannot end zarnivek.exe: the stop command gave status -1\n"},
        {"", -1, NOTHING, false, ""},
    };
    for (const auto& c : cases) {
        const Hooks& h = fake_hooks();
        fake.statuses = {c.status};
        std::string image = std::string("zarnivek") + c.suffix + ".exe";
        if (c.table == RUNS || c.table == NOT_ENDABLE)
            fake.running.insert(image);
        if (c.table == NOT_ENDABLE)
            fake.not_endable.insert(image);
        fake.scan_fails = c.table == UNREADABLE;
        char cmd[1024];
        EXPECT_EQ(capture_end_instance(c.suffix, cmd, sizeof cmd, h), c.ended);
        EXPECT_EQ(fake.events.front(), "run:taskkill /F /IM " + image + " 1>nul 2>nul");
        EXPECT_EQ(fake.out, c.out) << c.status;
    }
}

struct NameCase {
    const char* file;
    std::vector<std::string> existing;
    bool fixed;
    const char* want; // nullptr: no name can be had
    std::vector<std::string> reserved = {}; // names other runs hold
    bool windows = false;                   // Windows path rules, code page 932
    std::vector<std::string> attempts = {}; // reservations tried, in order; checked when given (or fixed)
};

TEST(Capture, PicksAnOutputNameThatIsFree)
{
    const NameCase cases[] = {
        {"rec.ts", {}, false, "rec.ts", {}, false, {"rec.ts"}},
        {"rec.ts", {"rec.ts", "rec(1).ts"}, false, "rec(2).ts", {}, false, {"rec(2).ts"}},
        {"rec.ts", {"rec(1).ts"}, false, "rec.ts"},
        {"rec.ts", {"rec.ts", "rec(2).ts"}, false, "rec(1).ts"},
        {"rec.ts", {"rec.ts", "rec(1).ts", "rec(3).ts"}, false, "rec(2).ts"},
        {"D:\\tv\\a.b.ts", {"D:\\tv\\a.b.ts"}, false, "D:\\tv\\a.b(1).ts"},
        {"rec.", {"rec."}, false, "rec(1)."},
        {"rec.ts", {"rec.ts"}, true, "rec.ts", {}, false, {}}, // fixed: nothing checked or reserved
        {"/srv/tv.d/news.ts", {"/srv/tv.d/news.ts"}, false, "/srv/tv.d/news(1).ts"},
        {".ts", {".ts"}, false, "(1).ts"},
        // A last '.' in a directory's name: the file's name has no extension.
        {"rec.d/news", {"rec.d/news"}, false, "rec.d/news(1)"},
        {"D:\\rec2.0\\a", {"D:\\rec2.0\\a"}, false, "D:\\rec2(1).0\\a"}, // '\\' separates only on Windows
        {"D:\\rec2.0\\a", {"D:\\rec2.0\\a"}, false, "D:\\rec2.0\\a(1)", {}, true},
        {"D:/rec2.0/a", {"D:/rec2.0/a", "D:/rec2.0/a(1)"}, false, "D:/rec2.0/a(2)", {}, true},
        // In code page 932 the second byte of '\x95\\' is no separator.
        {"x.\x95\\", {"x.\x95\\"}, false, "x(1).\x95\\", {}, true},
        // Names other runs hold are passed over; one reservation tried per free name.
        {"rec.ts", {}, false, "rec(1).ts", {"rec.ts"}, false, {"rec.ts", "rec(1).ts"}},
        {"rec.ts", {"rec.ts", "rec(2).ts"}, false, "rec(3).ts", {"rec(1).ts"}, false, {"rec(1).ts", "rec(3).ts"}},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.file);
        const Hooks& h = c.windows ? fake_windows_hooks() : fake_hooks();
        fake.existing.insert(c.existing.begin(), c.existing.end());
        fake.reserved.insert(c.reserved.begin(), c.reserved.end());
        char out[512];
        ASSERT_TRUE(capture_pick_output_name(c.file, c.fixed, h, out, sizeof out));
        EXPECT_STREQ(out, c.want);
        std::vector<std::string> attempts;
        for (const std::string& e : fake.events)
            if (e.rfind("reserve:", 0) == 0)
                attempts.push_back(e.substr(8));
        if (!c.attempts.empty() || c.fixed) {
            EXPECT_EQ(attempts, c.attempts);
        }
    }
}

// A name whose file appears between the check and the reservation (its run
// has just ended) is let go; where no reservation can be made, the file
// status query alone decides.
TEST(Capture, ReservationRaceAndNoReservations)
{
    {
        const Hooks& h = fake_hooks();
        Hooks appearing = h;
        appearing.reserve_name = [](const char* name) {
            fake.events.push_back(std::string("reserve:") + name);
            if (std::string(name) == "rec.ts")
                fake.existing.insert(name);
            return RESERVED;
        };
        char out[512];
        ASSERT_TRUE(capture_pick_output_name("rec.ts", false, appearing, out, sizeof out));
        EXPECT_STREQ(out, "rec(1).ts");
        EXPECT_EQ(fake.events, (std::vector<std::string>{"reserve:rec.ts", "release", "reserve:rec(1).ts"}));
    }
    {
        const Hooks& h = fake_hooks();
        fake.reservations_unavailable = true;
        fake.existing = {"rec.ts"};
        char out[512];
        ASSERT_TRUE(capture_pick_output_name("rec.ts", false, h, out, sizeof out));
        EXPECT_STREQ(out, "rec(1).ts");
    }
}

TEST(Capture, RefusesWhenTheNextNumberedNameDoesNotFit)
{
    const Hooks& h = fake_hooks();
    // 509 characters: "x...x.ts" fits 511, "x...x(1).ts" would not.
    std::string file = std::string(506, 'x') + ".ts";
    fake.existing.insert(file);
    char out[512];
    EXPECT_FALSE(capture_pick_output_name(file.c_str(), false, h, out, sizeof out));
    // With room for one numbered name only: (1) to (9) fit, (10) does not.
    file = std::string(505, 'x') + ".ts";
    fake.existing = {file};
    for (int i = 1; i <= 9; i++)
        fake.existing.insert(std::string(505, 'x') + "(" + std::to_string(i) + ").ts");
    EXPECT_FALSE(capture_pick_output_name(file.c_str(), false, h, out, sizeof out));
    fake.existing.erase(std::string(505, 'x') + "(9).ts");
    ASSERT_TRUE(capture_pick_output_name(file.c_str(), false, h, out, sizeof out));
    EXPECT_EQ(std::string(out), std::string(505, 'x') + "(9).ts");
    // The file argument alone too long, and one with no '.': refused, with
    // the buffer still a text.
    for (const std::string& bad : {std::string(600, 'x').append(".ts"), std::string("rec")}) {
        memset(out, 'x', sizeof out);
        EXPECT_FALSE(capture_pick_output_name(bad.c_str(), true, h, out, sizeof out));
        EXPECT_NE(memchr(out, '\0', sizeof out), nullptr);
    }
}

TEST(Capture, CommandLineFormat)
{
    char cmd[1024];
    ASSERT_TRUE(capture_command_line("/opt/q/", "", "rec.ts", 0x3ff, "2100", cmd, sizeof cmd));
    EXPECT_STREQ(cmd, "/opt/q/zarnivek.exe \"rec.ts\" @3FF 2100");
    ASSERT_TRUE(capture_command_line("C:\\tv\\", "2", "a b.ts", -1, "20:59:50-21:30:05", cmd, sizeof cmd));
    EXPECT_STREQ(cmd, "C:\\tv\\zarnivek2.exe \"a b.ts\" @FFFFFFFF 20:59:50-21:30:05");
    char small[20];
    EXPECT_FALSE(capture_command_line("/opt/q/", "", "rec.ts", 1, "2100", small, sizeof small));
}

} // namespace
