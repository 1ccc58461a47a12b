// Bad input that only a POSIX file system can stage: settings "files" that
// are FIFOs, devices or link loops, and program directories whose names the
// capture command line would split.
#include "launcher/program.h"
#include "settings/settings.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/qbbadXXXXXX";
        if (mkdtemp(tmpl))
            path = std::string(tmpl) + "/";
    }
    ~TempDir() { rmdir(path.c_str()); }
};

// Nothing but a regular file is read: a FIFO would block the run until a
// writer comes, /dev/zero would never end.
TEST(BadInput, SettingsReadOnlyFromARegularFile)
{
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string fifo = dir.path + "fifo", loop = dir.path + "loop";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
    const struct {
        std::string path;
        const char* why; // what the check says of it
    } cases[] = {
        {fifo, "it is no regular file"},
        {loop, "Too many levels of symbolic links"},
        {"/dev/zero", "it is no regular file"},
        {"/", "it is a directory"},
        {dir.path + "missing", "No such file or directory"},
    };
    for (const auto& c : cases) {
        int32_t source_id = 1, instance = 0;
        Margins m = {0, 0};
        SettingsRecord record;
        char why[REASON_CAP] = "";
        EXPECT_EQ(settings_read(c.path.c_str(), platform_os, &source_id, &instance, &m, &record, why, sizeof why),
                  SETTINGS_NOT_OPENED)
            << c.path;
        EXPECT_STREQ(why, c.why) << c.path;
    }
    unlink(fifo.c_str());
    unlink(loop.c_str());
}

// A last part over NAME_MAX bytes no Linux file system stores; a TZ the C
// library cannot read makes it go by UTC, and nothing else is a problem.
TEST(BadInput, NamesNoFileSystemStoresAndZonesNoneKnows)
{
    const std::string ja = "\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9"; // 4 characters, 12 bytes
    std::string titles;
    for (int i = 0; i < 22; i++)
        titles += ja;
    const struct {
        std::string name;
        bool problem;
    } names[] = {
        {std::string(255, 'a'), false}, {std::string(256, 'a'), true}, {"/srv/" + std::string(255, 'a'), false},
        {titles + ".ts", true}, {std::string(300, 'd') + "/x.ts", false},
    };
    for (const auto& c : names) {
        char why[REASON_CAP] = "", stored[1024];
        EXPECT_EQ(platform_os.can_store(c.name.c_str(), why, sizeof why), !c.problem) << c.name.size();
        EXPECT_STREQ(why, c.problem ? "its last part is longer than 255 bytes" : "");
        // The file argument is stored under its own bytes, and judged alike.
        const char* argv[] = {"quellatorbin", c.name.c_str()};
        why[0] = '\0';
        EXPECT_EQ(platform_os.file_argument(2, argv, 1, stored, sizeof stored, why, sizeof why),
                  c.problem ? NOT_STORABLE : STORED_AS_GIVEN);
        EXPECT_EQ(stored, c.name);
    }
    const struct {
        const char* tz; // nullptr: no TZ
        const char* problem;
    } zones[] = {
        {nullptr, ""}, {"", ""}, {"Europe/Berlin", ""}, {"UTC", ""},
        {"Europe/Berln", "TZ=Europe/Berln names no time zone this system knows: the run goes by UTC"},
    };
    for (const auto& z : zones) {
        if (z.tz)
            setenv("TZ", z.tz, 1);
        else
            unsetenv("TZ");
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.zone_problem(why, sizeof why), z.problem[0] != '\0') << (z.tz ? z.tz : "(none)");
        EXPECT_STREQ(z.problem[0] ? why : "", z.problem);
    }
    unsetenv("TZ");
    tzset();
}

// The program directory heads the capture command line, in quotation marks
// where it holds a blank.
TEST(BadInput, ProgramDirectoryTheCommandLineWouldSplitIsRefused)
{
    const struct {
        const char* sub;
        bool refused;
    } cases[] = {
        {"tab\there", true}, {"a\"b", true},
        // A blank: the program's path stands in quotation marks.
        {"my tv", false},
        // No command interpreter reads the text on Linux: the characters
        // cmd.exe acts on need no refusal.
        {"a&b", false}, {"a<b>c|d", false}, {"100%", false}, {"x^y", false}, {"p(1);q,r=s!", false},
        {"\x83\x7C", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sub);
        std::string sub = std::string("/tmp/") + c.sub + "/";
        const Platform& h = fake_platform();
        fake.program_dir = sub;
        fake.files = {{sub + "quellatorbin.ini", ""}};
        const char* argv[] = {"quellatorbin", "rec.ts", "@1", "2100"};
        int status = launcher_run(4, argv, h);
        if (c.refused) {
            EXPECT_EQ(status, 1);
            EXPECT_EQ(fake.events, (std::vector<std::string>{
                                       "err:quellatorbin Ver.0.05\n",
                                       "out:Cannot start the capture program from '" + sub +
                                           "': the directory holds a control character or a double quotation mark\n",
                                       "sleep:6000"}));
        } else {
            std::string program = sub + "zarnivek.exe";
            if (program.find(' ') != std::string::npos)
                program = "\"" + program + "\"";
            EXPECT_EQ(status, 0);
            EXPECT_EQ(fake.events.back(), "run:" + program + " \"rec.ts\" @1 2100");
        }
    }
}

} // namespace
