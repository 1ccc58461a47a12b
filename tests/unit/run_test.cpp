#include "launcher/program.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const std::string BANNER = "err:quellatorbin Ver.0.05\n";
const std::string STOP_TAIL = " \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n";

struct Case {
    const char* name;
    std::vector<const char*> args;
    const char* settings;          // nullptr: no settings file
    std::deque<int> statuses;      // scripted command statuses
    std::set<std::string> existing;
    int clock[3];
    std::vector<std::string> events; // "$DIR" stands for the program directory
    int status;
    std::set<std::string> reserved = {}; // names other runs hold
    size_t jump_after = 0;               // the clock jumps after this pause...
    long long jump_ms = 0;               // ...by this much
    bool windows = false;                // Windows' rules for names and paths
    std::set<std::string> running = {}; // image names of running processes
};

class Run : public testing::Test {
protected:
    void check(const Case& c)
    {
        SCOPED_TRACE(c.name);
        const Platform& os = c.windows ? fake_windows_platform() : fake_platform();
        if (c.settings)
            fake.files[fake.program_dir + "quellatorbin.ini"] = c.settings;
        else
            fake.files.clear();
        fake.statuses = c.statuses;
        fake.existing = c.existing;
        fake.reserved = c.reserved;
        fake.running = c.running;
        fake.jump_after = c.jump_after;
        fake.jump_ms = c.jump_ms;
        fake_set_clock(c.clock[0], c.clock[1], c.clock[2]);
        std::vector<const char*> argv = c.args;
        argv.insert(argv.begin(), "quellatorbin");
        int status = launcher_run((int)argv.size(), argv.data(), os);
        std::vector<std::string> want;
        for (std::string e : c.events) {
            for (size_t at; (at = e.find("$DIR")) != std::string::npos;)
                e.replace(at, 4, fake.program_dir);
            want.push_back(e);
        }
        EXPECT_EQ(fake.events, want);
        EXPECT_EQ(status, c.status);
    }
};

const char* const KILL = "end:zarnivek.exe";
const char* const KILL2 = "end:zarnivek2.exe";

TEST_F(Run, RequiredArgumentsAndEarlyEnds)
{
    const Case cases[] = {
        {"no arguments", {}, "", {}, {}, {12, 0, 0},
         {BANNER, "out:Not enough Parameter! (0,0,0)\n", "sleep:6000"}, 1},
        {"file and source only", {"rec.ts", "@400"}, "", {}, {}, {12, 0, 0},
         {BANNER, "out:Not enough Parameter! (400,0,1)\n", "sleep:6000"}, 1},
        {"mapped to 0", {"2100", "@400", "rec.ts"}, "@400,0\n", {}, {}, {12, 0, 0},
         {BANNER, "out:Not enough Parameter! (0,1,3)\n", "sleep:6000"}, 1},
        {"unreadable source id is missing", {"@zz", "2100", "rec.ts"}, "", {}, {}, {12, 0, 0},
         {BANNER, "out:Not enough Parameter! (0,2,3)\n", "sleep:6000"}, 1},
        {"missing settings file", {"rec.ts", "@400", "2100"}, nullptr, {}, {}, {12, 0, 0},
         {BANNER, "out:Cannot open '$DIRquellatorbin.ini'\n", "sleep:6000"}, 1},
        {"missing settings file ends a stop too", {"stop"}, nullptr, {}, {}, {12, 0, 0},
         {BANNER, "out:Cannot open '$DIRquellatorbin.ini'\n", "sleep:6000"}, 1},
        {"stop that ended nothing", {"stop"}, "", {}, {}, {12, 0, 0}, {BANNER, KILL}, 1},
        {"stop that ended one", {"I2", "Stop"}, "", {}, {}, {12, 0, 0},
         {BANNER, KILL2, "out:zarnivek2.exe" + STOP_TAIL}, 1, {}, 0, 0, false, {"zarnivek2.exe"}},
        {"stop follows the settings offset", {"stop", "I2"}, "I1\n", {}, {}, {12, 0, 0},
         {BANNER, "end:zarnivek1.exe", "out:zarnivek1.exe" + STOP_TAIL}, 1, {}, 0, 0, false, {"zarnivek1.exe"}},
        {"wildcard suffix refused before a stop", {"stop", "I-6"}, "", {}, {}, {12, 0, 0},
         {BANNER, "out:Bad instance number -6: its image name zarnivek*.exe cannot be used\n", "sleep:6000"}, 1},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(Run, LaunchesTheCaptureProgram)
{
    const Case cases[] = {
        {"plain launch", {"rec.ts", "@3ff", "2100"}, "", {7}, {}, {12, 0, 0},
         {BANNER, KILL, "reserve:rec.ts", "out:$DIRzarnivek.exe \"rec.ts\" @3FF 2100\n", "run:$DIRzarnivek.exe \"rec.ts\" @3FF 2100"}, 7},
        {"instance 2", {"rec.ts", "@3ff", "2100", "I2"}, "", {0}, {}, {12, 0, 0},
         {BANNER, KILL2, "reserve:rec.ts", "out:$DIRzarnivek2.exe \"rec.ts\" @3FF 2100\n", "run:$DIRzarnivek2.exe \"rec.ts\" @3FF 2100"}, 0},
        {"mapping and margins", {"@400", "a b.ts", "21:00-21:30"}, "M10,5\n@400,20\n", {0}, {}, {20, 59, 30},
         {BANNER, "out:                      \r", KILL, "reserve:a b.ts", "out:$DIRzarnivek.exe \"a b.ts\" @20 20:59:50-21:30:05\n",
          "run:$DIRzarnivek.exe \"a b.ts\" @20 20:59:50-21:30:05"}, 0},
        {"stale instance ended, then a pause and a look", {"rec.ts", "@1", "2100"}, "", {0}, {}, {12, 0, 0},
         {BANNER, KILL, "sleep:3000", KILL, "out:zarnivek.exe" + STOP_TAIL, "reserve:rec.ts",
          "out:$DIRzarnivek.exe \"rec.ts\" @1 2100\n", "run:$DIRzarnivek.exe \"rec.ts\" @1 2100"},
         0, {}, 0, 0, false, {"zarnivek.exe"}},
        {"existing file numbered", {"rec.ts", "@1", "2100"}, "", {0}, {"rec.ts", "rec(1).ts"}, {12, 0, 0},
         {BANNER, KILL, "reserve:rec(2).ts", "out:$DIRzarnivek.exe \"rec(2).ts\" @1 2100\n", "run:$DIRzarnivek.exe \"rec(2).ts\" @1 2100"}, 0},
        {"fixed name", {"rec.ts", "@1", "2100", "fn"}, "", {0}, {"rec.ts"}, {12, 0, 0},
         {BANNER, KILL, "out:$DIRzarnivek.exe \"rec.ts\" @1 2100\n", "run:$DIRzarnivek.exe \"rec.ts\" @1 2100"}, 0},
        {"name held by another run numbered", {"rec.ts", "@1", "2100"}, "", {0}, {}, {12, 0, 0},
         {BANNER, KILL, "reserve:rec.ts", "reserve:rec(1).ts", "out:$DIRzarnivek.exe \"rec(1).ts\" @1 2100\n",
          "run:$DIRzarnivek.exe \"rec(1).ts\" @1 2100"}, 0, {"rec.ts"}},
        {"interpreter not started", {"rec.ts", "@1", "2100"}, "", {-1}, {}, {12, 0, 0},
         {BANNER, KILL, "reserve:rec.ts", "out:$DIRzarnivek.exe \"rec.ts\" @1 2100\n", "run:$DIRzarnivek.exe \"rec.ts\" @1 2100"}, -1},
        {"a name stored with look-alikes is handed on so", {"a~b.ts", "@1", "2100"}, "", {0}, {"a-b.ts"}, {12, 0, 0},
         {BANNER, KILL, "reserve:a-b(1).ts", "out:$DIRzarnivek.exe \"a-b(1).ts\" @1 2100\n",
          "run:$DIRzarnivek.exe \"a-b(1).ts\" @1 2100"}, 0, {}, 0, 0, true},
        {"source id FFFFFFFF", {"rec.ts", "@-1", "2100"}, "@FFFFFFFF,1\n", {0}, {}, {12, 0, 0},
         {BANNER, KILL, "reserve:rec.ts", "out:$DIRzarnivek.exe \"rec.ts\" @FFFFFFFF 2100\n",
          "run:$DIRzarnivek.exe \"rec.ts\" @FFFFFFFF 2100"}, 0},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(Run, ClockJumps)
{
    const std::string PLAIN = "out:Please wait...    \r", BLANK = "out:                      \r";
    const Case cases[] = {
        // 20:58:00, then 20:58:01 + 2 min: the launch minute never showed.
        {"clock stepped over the launch minute", {"rec.ts", "@1", "21:00-21:30"}, "", {0}, {}, {20, 58, 0},
         {BANNER, PLAIN, "sleep:1000", BLANK, KILL, "reserve:rec.ts",
          "out:$DIRzarnivek.exe \"rec.ts\" @1 21:00:00-21:30:00\n", "run:$DIRzarnivek.exe \"rec.ts\" @1 21:00:00-21:30:00"},
         0, {}, 1, 120000},
        // 20:58:00, then 21:40:01: past the whole window, nothing is ended or started.
        {"clock stepped past the window", {"rec.ts", "@1", "21:00-21:30"}, "M0,5", {}, {}, {20, 58, 0},
         {BANNER, PLAIN, "sleep:1000", BLANK,
          "out:Missed the recording window 21:00:00-21:30:05: the clock went from 20:58:00 to 21:40:01\n",
          "sleep:6000"},
         1, {}, 1, 42 * 60000},
        // A machine asleep from 08:00 to 21:05, inside the window: the run
        // launches; asleep to 22:00, past it: missed.
        {"woken inside the window", {"j.ts", "@400", "21:00-21:30"}, "", {0}, {}, {8, 0, 0},
         {BANNER, PLAIN, "sleep:1000", BLANK, KILL, "reserve:j.ts",
          "out:$DIRzarnivek.exe \"j.ts\" @400 21:00:00-21:30:00\n", "run:$DIRzarnivek.exe \"j.ts\" @400 21:00:00-21:30:00"},
         0, {}, 1, (13 * 3600 + 5 * 60 - 1) * 1000LL},
        {"woken after the window", {"j.ts", "@400", "21:00-21:30"}, "", {}, {}, {8, 0, 0},
         {BANNER, PLAIN, "sleep:1000", BLANK,
          "out:Missed the recording window 21:00:00-21:30:00: the clock went from 08:00:00 to 22:00:00\n",
          "sleep:6000"},
         1, {}, 1, (14 * 3600 - 1) * 1000LL},
        // The autumn change, 03:00 back to 02:00, for a 3:10 window: nothing
        // is crossed, the wait goes on to 03:09:40 of the clock as it shows now.
        {"clock set back an hour", {"rec.ts", "@1", "3:10-3:40"}, "", {0}, {}, {2, 59, 59},
         {BANNER, PLAIN, "sleep:1000"}, 0, {}, 1, -3600000},
    };
    for (const Case& c : cases) {
        if (c.jump_ms > 0) {
            check(c);
            continue;
        }
        // Set back to 02:00:00: a plain line a second until 03:09, then the countdown.
        Case back = c;
        for (int i = 0; i < 69 * 60; i++) {
            back.events.push_back(PLAIN);
            back.events.push_back("sleep:1000");
        }
        for (int left = 40; left >= 1; left--)
            for (int tenth = 0; tenth < 10; tenth++) {
                back.events.push_back("out:Please wait..." + std::to_string(left) + "   \r");
                back.events.push_back("sleep:100");
            }
        for (const char* e : {"out:                      \r", KILL, "reserve:rec.ts",
                              "out:$DIRzarnivek.exe \"rec.ts\" @1 03:10:00-03:40:00\n",
                              "run:$DIRzarnivek.exe \"rec.ts\" @1 03:10:00-03:40:00"})
            back.events.push_back(e);
        check(back);
    }
}

TEST_F(Run, WaitsForTheLaunchMomentBeforeStopping)
{
    Case c = {"countdown", {"rec.ts", "@1", "21:00-21:30"}, "", {0}, {}, {20, 59, 39}, {}, 0};
    c.events.push_back(BANNER);
    for (int i = 0; i < 10; i++) {
        c.events.push_back("out:Please wait...1   \r");
        c.events.push_back("sleep:100");
    }
    for (const char* e : {"out:                      \r", KILL, "reserve:rec.ts", "out:$DIRzarnivek.exe \"rec.ts\" @1 21:00:00-21:30:00\n",
                          "run:$DIRzarnivek.exe \"rec.ts\" @1 21:00:00-21:30:00"})
        c.events.push_back(e);
    check(c);
}

TEST_F(Run, RefusesBadInputBeforeAnyWaitStopOrLaunch)
{
    const struct {
        std::vector<const char*> args;
        const char* message;
        bool windows = false;
    } cases[] = {
        {{"rec.ts", "@1", "21:"}, "Bad time argument '21:': expected HH:MM-HH:MM\n"},
        {{"rec.ts", "@1", "21:00-"}, "Bad time argument '21:00-': expected HH:MM-HH:MM\n"},
        {{"rec.ts", "@1", "21:xx"}, "Bad time argument '21:xx': expected HH:MM-HH:MM\n"},
        {{"rec.ts", "@1", "24:30"}, "Bad time argument '24:30': the clock never shows its start\n"},
        {{"rec.ts", "@1", "9:75-10:00"}, "Bad time argument '9:75-10:00': the clock never shows its start\n"},
        {{"rec.ts", "@1", "21:00-2000000000:2000000000"},
         "Bad time argument '21:00-2000000000:2000000000': its window text is longer than 31 characters\n"},
        {{"rec.ts", "@1", "12345678901234567890123456789012"},
         "Bad time argument '12345678901234567890123456789012': its window text is longer than 31 characters\n"},
        {{"rec.ts", "@1", "2100&calc"}, "Bad time argument '2100&calc': it holds a blank, a control character or one of \" & | < > ^ %\n"},
        {{"rec.ts", "@1", "21 00"}, "Bad time argument '21 00': it holds a blank, a control character or one of \" & | < > ^ %\n"},
        {{"a\"b.ts", "@1", "2100"}, "Bad file argument 'a\"b.ts': it holds a double quotation mark\n"},
        {{"C:\\tv.d\\", "@1", "2100"}, "Bad file argument 'C:\\tv.d\\': it ends with a backslash\n"},
        {{"a\nb.ts", "@1", "2100"}, "Bad file argument 'a\nb.ts': it holds a control character\n"},
        {{"rec.ts", "@1", "21\t00"}, "Bad time argument '21\t00': it holds a blank, a control character or one of \" & | < > ^ %\n"},
        {{"I-16", "rec.ts", "@1", "2100"}, "Bad instance number -16: its image name zarnivek .exe cannot be used\n"},
        {{"I15", "rec.ts", "@1", "2100"}, "Bad instance number 15: its image name zarnivek?.exe cannot be used\n"},
        // Names Windows can make no file of (base/text.h has the rules).
        {{"NUL.ts", "@1", "2100"},
         "Bad file argument 'NUL.ts': it names a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9), not a file\n",
         true},
        {{"News:Special.ts", "@1", "2100"},
         "Bad file argument 'News:Special.ts': it holds a ':' that is no drive's: on NTFS it would name a stream of "
         "another file\n",
         true},
    };
    for (const auto& r : cases) {
        Case c = {r.args[2], r.args, "", {}, {}, {20, 0, 0}, {BANNER, std::string("out:") + r.message, "sleep:6000"}, 1};
        c.windows = r.windows;
        check(c);
    }
    std::string long_name = std::string(600, 'x') + ".ts";
    Case c = {"long file", {long_name.c_str(), "@1", "2100"}, "", {}, {}, {20, 0, 0},
              {BANNER, "out:Bad file argument '" + long_name.substr(0, 300) + "...': longer than 511 characters\n",
               "sleep:6000"}, 1};
    check(c);
}

TEST_F(Run, RefusesWhenNoOutputNameIsLeftOrTheDirectoryIsUnknown)
{
    std::string name = std::string(506, 'x') + ".ts";
    Case c = {"no free name", {name.c_str(), "@1", "2100"}, "", {}, {name}, {12, 0, 0},
              {BANNER, KILL, "out:No free output name for '" + name + "': every numbered name within 511 characters is taken\n",
               "sleep:6000"}, 1};
    check(c);

    const Platform& os = fake_platform();
    fake.program_dir_ok = false;
    const char* argv[] = {"quellatorbin", "rec.ts", "@1", "2100"};
    EXPECT_EQ(launcher_run(4, argv, os), 1);
    EXPECT_EQ(fake.events, (std::vector<std::string>{
                               BANNER,
                               "out:Cannot find the program directory, or its path is longer than 254 characters\n",
                               "sleep:6000"}));
}

// The help and the version need no settings file, write no banner, and do
// nothing else, wherever their switch stands; a check anywhere ends and
// starts nothing.
TEST_F(Run, SwitchesAnywhereDoOnlyWhatTheyAsk)
{
    const struct {
        std::vector<const char*> args;
        const char* begins; // standard output begins so
        int status;
    } cases[] = {
        {{"--help"}, "quellatorbin 0.05: starts a capture program for one recording\n\nusage: quellatorbin ", 0},
        {{"Chk.ts", "@400", "2100", "I2", "/?"}, "quellatorbin 0.05: starts", 0},
        {{"--version"}, "quellatorbin 0.05\n", 0},
        {{"Chk.ts", "@400", "2100", "I2", "--check"}, "program directory: /fake/\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Platform& os = fake_platform();
        fake.files.clear();
        fake.files["/fake/quellatorbin.ini"] = "";
        fake.running.insert("zarnivek2.exe");
        std::vector<const char*> argv = c.args;
        argv.insert(argv.begin(), "quellatorbin");
        EXPECT_EQ(launcher_run((int)argv.size(), argv.data(), os), c.status);
        EXPECT_EQ(fake.out.rfind(c.begins, 0), 0u) << fake.out;
        EXPECT_TRUE(fake.sleeps.empty());
        for (const std::string& e : fake.events)
            EXPECT_TRUE(e.rfind("run:", 0) != 0 && e.rfind("end:", 0) != 0) << e;
        EXPECT_EQ(fake.running.count("zarnivek2.exe"), 1u);
    }
}

// A numbered name the system cannot store is refused with the reason: a
// full path of 257 characters becomes one of 260 on Windows.
TEST_F(Run, RefusesANumberedNameTheSystemCannotStore)
{
    std::string dir = "C:\\" + std::string(120, 'd') + "\\";
    std::string name = dir + std::string(130, 'a') + ".ts";
    std::string next = dir + std::string(130, 'a') + "(1).ts";
    Case c = {"name too long once numbered", {name.c_str(), "@1", "2100"}, "", {}, {name}, {12, 0, 0},
              {BANNER, KILL,
               "out:No free output name for '" + name + "': " + next +
                   " cannot be stored: as a full path it is longer than 259 characters (a leading \\\\?\\ lifts that)\n",
               "sleep:6000"},
              1};
    c.windows = true;
    check(c);
}

} // namespace
