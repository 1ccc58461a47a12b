// Whether a file is a program Windows can start: the check reads its first
// 4096 bytes for "MZ" and the "PE\0\0" its header names, and never outside
// them, whatever offset the file gives.
#include "platform/platform.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

namespace {

// "MZ", then zeros up to the header's offset at 0x3C, the offset, and tail.
std::string program_head(unsigned long pe_offset, const std::string& tail)
{
    std::string bytes = "MZ" + std::string(0x3A, '\0');
    for (int i = 0; i < 4; i++)
        bytes += (char)(pe_offset >> (8 * i) & 0xFF);
    return bytes + tail;
}

TEST(CanRun, ReadsTheHeaderWithinWhatItRead)
{
    const std::string dir = temp_dir_make();
    ASSERT_FALSE(dir.empty());
    const std::string PE("PE\0\0", 4);
    const char* const NO = "it is no program this system can start";
    const struct {
        const char* name;
        std::string bytes;
        const char* why; // nullptr: a program
    } cases[] = {
        {"header right after the offset", program_head(0x40, PE), nullptr},
        {"header past what was read", program_head(0x1000, PE), NO},
        {"offset that wraps round, 4 below 2^32", program_head(0xFFFFFFFC, PE), NO},
        {"offset that wraps round, 2 below 2^32", program_head(0xFFFFFFFE, PE), NO},
        {"header cut short", program_head(0x40, "PE"), NO},
        {"no MZ", "ZM" + program_head(0x40, PE).substr(2), NO},
        {"shorter than the offset's place", "MZ", NO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "zarnivek.exe";
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        ASSERT_EQ(fwrite(c.bytes.data(), 1, c.bytes.size(), f), c.bytes.size());
        ASSERT_EQ(fclose(f), 0);
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.can_run(path.c_str(), why, sizeof why), c.why == nullptr);
        EXPECT_STREQ(why, c.why ? c.why : "");
        temp_remove_file(path);
    }
    temp_remove_dir(dir);
}

} // namespace
