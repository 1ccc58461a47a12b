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

// "MZ", then zeros up to the header's offset at 0x3C, the offset, and tail.
std::string program_head(unsigned long pe_offset, const std::string& tail)
{
    std::string bytes = "MZ" + std::string(0x3A, '\0');
    for (int i = 0; i < 4; i++)
        bytes += (char)(pe_offset >> (8 * i) & 0xFF);
    return bytes + tail;
}

// A program file begins "MZ" and names its PE header, which the check reads
// within the first 4096 bytes, never outside them, whatever offset the file
// gives; a stub of four bytes or a directory is no program.
TEST(PlatformWin32, ProgramsThisSystemCanStart)
{
    const std::string dir = temp_dir_make();
    ASSERT_FALSE(dir.empty());
    const std::string PE("PE\0\0", 4), file = dir + "zarnivek5.exe";
    const char* const NO = "it is no program this system can start";
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    const struct {
        const char* name;
        std::string bytes; // written to file; "": the path itself
        std::string path;
        const char* why;   // nullptr: a program
    } cases[] = {
        {"this test", "", self, nullptr},
        {"a directory", "", dir, "it is a directory"},
        {"header right after the offset", program_head(0x40, PE), file, nullptr},
        {"a stub of four bytes", std::string("MZ\x90\0", 4), file, NO},
        {"header past what was read", program_head(0x1000, PE), file, NO},
        {"offset that wraps round, 4 below 2^32", program_head(0xFFFFFFFC, PE), file, NO},
        {"offset that wraps round, 2 below 2^32", program_head(0xFFFFFFFE, PE), file, NO},
        {"header cut short", program_head(0x40, "PE"), file, NO},
        {"no MZ", "ZM" + program_head(0x40, PE).substr(2), file, NO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.bytes.empty()) {
            FILE* f = fopen(c.path.c_str(), "wb");
            ASSERT_TRUE(f);
            ASSERT_EQ(fwrite(c.bytes.data(), 1, c.bytes.size(), f), c.bytes.size());
            ASSERT_EQ(fclose(f), 0);
        }
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.can_run(c.path.c_str(), why, sizeof why), c.why == nullptr);
        EXPECT_STREQ(why, c.why ? c.why : "");
    }
    char why[REASON_CAP] = "";
    EXPECT_FALSE(platform_os.can_run((dir + "missing.exe").c_str(), why, sizeof why));
    EXPECT_NE(why[0], '\0');
    temp_remove_file(file);
    temp_remove_dir(dir);
}

} // namespace
