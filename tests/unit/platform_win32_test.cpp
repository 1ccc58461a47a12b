// What only the Windows platform layer decides: which TZ the C runtime
// reads as asked, and which files it can start.
#include "platform/platform.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <windows.h>

namespace {

// The C runtime reads TZ as three letters, the hours west of UTC and a
// daylight-saving name, to which it applies the United States' dates.
TEST(PlatformWin32, TimeZonesTheCRuntimeReadsAsAsked)
{
    const char* const UNREADABLE = "is no time zone the C runtime can read";
    const char* const US_DATES = "changes its clock on the United States' daylight-saving dates";
    const struct {
        const char* tz; // "": no TZ
        const char* problem; // a part of the reason; nullptr: none
    } cases[] = {
        {"", nullptr}, {"UTC", nullptr}, {"GMT0", nullptr}, {"JST-9", nullptr}, {"EST5EDT", nullptr},
        {"CET-1CEST", US_DATES}, {"GMT0BST", US_DATES},
        {"CET", UNREADABLE}, {"Europe/Berlin", UNREADABLE}, {"JST-9x1", UNREADABLE},
    };
    for (const auto& c : cases) {
        _putenv_s("TZ", c.tz);
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.zone_problem(why, sizeof why), c.problem != nullptr) << c.tz;
        if (c.problem) {
            EXPECT_NE(std::string(why).find(c.problem), std::string::npos) << c.tz << ": " << why;
        }
    }
    _putenv_s("TZ", "");
}

// A program file begins "MZ" and names its PE header; a stub of four bytes
// or a directory is none.
TEST(PlatformWin32, ProgramsThisSystemCanStart)
{
    const std::string dir = temp_dir_make();
    ASSERT_FALSE(dir.empty());
    const std::string stub = dir + "zarnivek5.exe";
    FILE* f = fopen(stub.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite("MZ\x90\0", 1, 4, f);
    fclose(f);
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    const struct {
        std::string path;
        const char* why; // nullptr: it can be started
    } cases[] = {
        {self, nullptr},
        {stub, "it is no program this system can start"},
        {dir, "it is a directory"},
    };
    for (const auto& c : cases) {
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.can_run(c.path.c_str(), why, sizeof why), c.why == nullptr) << c.path;
        EXPECT_STREQ(c.why ? why : "", c.why ? c.why : "") << c.path;
    }
    char why[REASON_CAP] = "";
    EXPECT_FALSE(platform_os.can_run((dir + "missing.exe").c_str(), why, sizeof why));
    EXPECT_NE(why[0], '\0');
    temp_remove_file(stub);
    temp_remove_dir(dir);
}

} // namespace
