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

// One table says what each part of the capture command line may hold; an
// output name's refusal says why.
TEST(Capture, WhatEachPartOfTheCommandLineMayHold)
{
    const struct {
        CommandPart part;
        const char* text;
        bool allowed;
    } cases[] = {
        {PART_SUFFIX, "", true}, {PART_SUFFIX, "1", true}, {PART_SUFFIX, ":", true},
        {PART_SUFFIX, "~", true}, {PART_SUFFIX, "\x80", true},
        // Wildcards would end other instances; the rest split or redirect the command.
        {PART_SUFFIX, "*", false}, {PART_SUFFIX, "\\", false}, {PART_SUFFIX, " ", false},
        {PART_SUFFIX, "%", false}, {PART_SUFFIX, "\x7f", false},
        {PART_TIME, "2100", true}, {PART_TIME, "2100&calc", false}, {PART_TIME, "21 00", false},
        {PART_OUTPUT_NAME, "a b&c%d^*.ts", true}, // quoted: cmd.exe acts on none of these there
        {PART_PROGRAM_DIR, "C:\\Program Files\\tv\\", true}, {PART_PROGRAM_DIR, "/opt/a\"b/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(capture_part_allowed(c.part, c.text), c.allowed) << c.part << " " << c.text;
    const struct {
        const char* name;
        const char* problem; // nullptr: it may stand there
    } names[] = {
        {"a b&c%d^.ts", nullptr},
        {"a\"b.ts", "it holds a double quotation mark"},
        {"a\nb.ts", "it holds a control character"},
        {"a\x7f.ts", "it holds a control character"},
        {"C:\\tv.d\\", "it ends with a backslash"},
        {"x.\x95\\", nullptr}, // in code page 932, '\x95\\' is one character
    };
    const Platform& os = fake_windows_platform();
    for (const auto& c : names) {
        const char* got = capture_name_problem(c.name, os.is_lead_byte);
        EXPECT_STREQ(got ? got : "(none)", c.problem ? c.problem : "(none)") << c.name;
    }
}

// Ending an instance: one line says how it ended; a table that cannot be
// read is read again, 100 ms on; one that comes back after the pause is
// ended again, a few times.
TEST(Capture, EndInstanceSaysWhatItEndedAndWhatItCouldNot)
{
    enum Table { NOTHING, RUNS, NOT_ENDABLE, UNREADABLE, UNREADABLE_ONCE };
    const struct {
        const char* image;
        Table table;
        unsigned settle_ms;
        int restarts;
        bool ended;
        std::string out;
        std::vector<unsigned> pauses;
        size_t ends; // end_image calls
    } cases[] = {
        {"zarnivek.exe", RUNS, 0, 0, true, "zarnivek.exe" + STOP_TAIL, {}, 1},
        {"zarnivek.exe", RUNS, 3000, 0, true, "zarnivek.exe" + STOP_TAIL, {3000}, 2},
        {"zarnivek2.exe", NOTHING, 3000, 0, false, "", {}, 1},
        {"zarnivek1.exe", NOT_ENDABLE, 3000, 0, false, "Cannot end zarnivek1.exe: Operation not permitted\n", {}, 1},
        {"zarnivek2.exe", UNREADABLE, 0, 0, false, "Cannot tell whether zarnivek2.exe runs: Too many open files\n",
         {100, 100}, 3},
        {"zarnivek.exe", UNREADABLE_ONCE, 0, 0, true, "zarnivek.exe" + STOP_TAIL, {100}, 2},
        // Started again once: ended again after the first pause.
        {"zarnivek1.exe", RUNS, 3000, 1, true, "zarnivek1.exe" + STOP_TAIL, {3000, 3000}, 3},
        // Started again each time: ended after each of three pauses, and said.
        {"zarnivek1.exe", RUNS, 3000, 1000, true,
         "Cannot end zarnivek1.exe: it starts again each time it is ended\n", {3000, 3000, 3000}, 4},
        // A stop request looks once, without a pause.
        {"zarnivek1.exe", RUNS, 0, 1000, true, "zarnivek1.exe" + STOP_TAIL, {}, 1},
    };
    for (const auto& c : cases) {
        const Platform& os = fake_platform();
        if (c.table == RUNS || c.table == NOT_ENDABLE || c.table == UNREADABLE_ONCE)
            fake.running.insert(c.image);
        if (c.table == NOT_ENDABLE)
            fake.not_endable.insert(c.image);
        fake.scan_failures = c.table == UNREADABLE ? 1000 : c.table == UNREADABLE_ONCE ? 1 : 0;
        fake.restarts = c.restarts;
        EXPECT_EQ(capture_end_instance(c.image, os, c.settle_ms), c.ended);
        size_t ends = 0;
        for (const std::string& e : fake.events)
            ends += e == std::string("end:") + c.image;
        EXPECT_EQ(ends, c.ends) << c.image << " " << c.restarts;
        EXPECT_EQ(fake.out, c.out) << c.image;
        EXPECT_EQ(fake.sleeps, c.pauses) << c.image;
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

NamePick pick(const char* file, bool fixed, const Platform& os, char (&out)[512])
{
    NamesPassed passed;
    char why[REASON_CAP];
    return capture_pick_output_name(file, fixed, os, out, sizeof out, &passed, why, sizeof why);
}

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
        const Platform& os = c.windows ? fake_windows_platform() : fake_platform();
        fake.existing.insert(c.existing.begin(), c.existing.end());
        fake.reserved.insert(c.reserved.begin(), c.reserved.end());
        char out[512];
        ASSERT_EQ(pick(c.file, c.fixed, os, out), NAME_PICKED);
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
// has just ended) is let go; where the directory has no reservation, the
// file status query alone decides; a query or reservation that fails is
// tried again, and never taken for a free name.
TEST(Capture, ReservationRaceFailuresAndNoReservations)
{
    {
        Platform appearing = fake_platform();
        appearing.reserve_name = [](const char* name, char*, size_t) {
            fake.events.push_back(std::string("reserve:") + name);
            if (std::string(name) == "rec.ts")
                fake.existing.insert(name);
            return RESERVED;
        };
        char out[512];
        ASSERT_EQ(pick("rec.ts", false, appearing, out), NAME_PICKED);
        EXPECT_STREQ(out, "rec(1).ts");
        EXPECT_EQ(fake.events, (std::vector<std::string>{"reserve:rec.ts", "release", "reserve:rec(1).ts"}));
    }
    const struct {
        const char* what;
        int reservation_failures;
        bool query_fails;
        NamePick want;
        const char* name;
        std::vector<unsigned> pauses;
    } cases[] = {
        {"a reservation fails once", 1, false, NAME_PICKED, "rec(1).ts", {100}},
        {"a reservation fails three times", 3, false, NAME_CANNOT_TELL, "rec(1).ts", {100, 100}},
        {"the query cannot tell", 0, true, NAME_CANNOT_TELL, "rec(1).ts", {100, 100}},
    };
    for (const auto& c : cases) {
        const Platform& os = fake_platform();
        fake.reservation_failures = c.reservation_failures;
        fake.existing = {"rec.ts"};
        if (c.query_fails)
            fake.unknown = {"rec(1).ts"};
        char out[512];
        EXPECT_EQ(pick("rec.ts", false, os, out), c.want) << c.what;
        EXPECT_STREQ(out, c.name) << c.what;
        EXPECT_EQ(fake.sleeps, c.pauses) << c.what;
    }
}

TEST(Capture, RefusesWhenTheNextNumberedNameDoesNotFitOrCannotBeStored)
{
    const Platform& os = fake_platform();
    // 509 characters: "x...x.ts" fits 511, "x...x(1).ts" would not.
    std::string file = std::string(506, 'x') + ".ts";
    fake.existing.insert(file);
    char out[512];
    EXPECT_EQ(pick(file.c_str(), false, os, out), NAME_NONE_FREE);
    // With room for one numbered name only: (1) to (9) fit, (10) does not.
    file = std::string(505, 'x') + ".ts";
    fake.existing = {file};
    for (int i = 1; i <= 9; i++)
        fake.existing.insert(std::string(505, 'x') + "(" + std::to_string(i) + ").ts");
    EXPECT_EQ(pick(file.c_str(), false, os, out), NAME_NONE_FREE);
    fake.existing.erase(std::string(505, 'x') + "(9).ts");
    ASSERT_EQ(pick(file.c_str(), false, os, out), NAME_PICKED);
    EXPECT_EQ(std::string(out), std::string(505, 'x') + "(9).ts");
    // Numbering past what the system stores: a full path of 257 characters
    // becomes one of 260 on Windows.
    const Platform& windows = fake_windows_platform();
    file = "C:\\" + std::string(252, 'a') + ".ts";
    fake.existing = {file};
    EXPECT_EQ(pick(file.c_str(), false, windows, out), NAME_CANNOT_STORE);
    EXPECT_EQ(std::string(out), "C:\\" + std::string(252, 'a') + "(1).ts");
    // The file argument alone too long, and one with no '.': refused, with
    // the buffer still a text.
    for (const std::string& bad : {std::string(600, 'x').append(".ts"), std::string("rec")}) {
        memset(out, 'x', sizeof out);
        EXPECT_EQ(pick(bad.c_str(), true, os, out), NAME_NONE_FREE);
        EXPECT_NE(memchr(out, '\0', sizeof out), nullptr);
    }
}

TEST(Capture, CommandLineFormat)
{
    char cmd[COMMAND_TEXT_CAP];
    capture_command_line("/opt/q/", "zarnivek.exe", "rec.ts", 0x3ff, "2100", cmd);
    EXPECT_STREQ(cmd, "/opt/q/zarnivek.exe \"rec.ts\" @3FF 2100");
    capture_command_line("C:\\tv\\", "zarnivek2.exe", "a b.ts", -1, "20:59:50-21:30:05", cmd);
    EXPECT_STREQ(cmd, "C:\\tv\\zarnivek2.exe \"a b.ts\" @FFFFFFFF 20:59:50-21:30:05");
    capture_command_line("C:\\Program Files\\", "zarnivek.exe", "a.ts", 1, "2100", cmd);
    EXPECT_STREQ(cmd, "\"C:\\Program Files\\zarnivek.exe\" \"a.ts\" @1 2100");
}

} // namespace
