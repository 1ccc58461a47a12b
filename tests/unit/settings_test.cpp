#include "settings/settings.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

struct Result {
    int32_t source_id;
    int32_t instance;
    int lead;
    int trail;
};

// Reads a settings file of these bytes, for a run with the given source id
// and instance number; margins start at 0.
Result apply(const std::string& bytes, int32_t source_id, int32_t instance)
{
    const Platform& os = fake_platform();
    fake.files["/fake/q.ini"] = bytes;
    Margins m = {0, 0};
    SettingsRecord record;
    char why[REASON_CAP];
    EXPECT_EQ(settings_read("/fake/q.ini", os, &source_id, &instance, &m, &record, why, sizeof why), SETTINGS_APPLIED);
    return Result{source_id, instance, m.lead, m.trail};
}

struct Case {
    const char* name;
    std::string file;
    int32_t source_id, instance;
    Result want;
};

TEST(Settings, AppliesLinesInOrder)
{
    const Case cases[] = {
        {"empty file", "", 0x400, 3, {0x400, 3, 0, 0}},
        {"worked example", "I2\nM10,5\n@3FF,1\n@400,20\nM0,0\n", 0x400, 3, {0x20, 1, 10, 5}},
        {"margins clamped", "M45,-3\n", 1, 0, {1, 0, 30, 0}},
        {"later M overrides", "M5,6\nM7,8\n", 1, 0, {1, 0, 7, 8}},
        {"M with one number keeps trail", "M5,6\nM9\n", 1, 0, {1, 0, 9, 6}},
        {"M with no first number ignored", "M5,6\nM,9\nMx\n", 1, 0, {1, 0, 5, 6}},
        {"I1 on 1 gives 0", "I1\n", 1, 1, {1, 0, 0, 0}},
        {"I1 on 3 gives 2", "I1\n", 1, 3, {1, 2, 0, 0}},
        {"I1 on 0 stays 0", "I1\n", 1, 0, {1, 0, 0, 0}},
        {"two I1 on 3", "I1\nI1\n", 1, 3, {1, 1, 0, 0}},
        {"two I1 on 1", "I1\nI1\n", 1, 1, {1, 0, 0, 0}},
        {"negative offset raises", "I-2\n", 1, 0, {1, 2, 0, 0}},
        {"I with no number ignored", "I\nIx\nI1\n", 1, 3, {1, 2, 0, 0}},
        {"I offset wraps, no overflow", "I-2147483647\n", 1, 5, {1, 0, 0, 0}},
        {"14 characters then I5", "xxxxxxxxxxxxxxI5\n", 1, 9, {1, 4, 0, 0}},
        {"line of exactly 14, then its line feed", "M1234567890123\nI1\n", 1, 3, {1, 2, 30, 0}},
        {"18-character mapping line", "@12345678,9ABCDEF0\n", 0x12345678, 0, {0x9ABC, 0, 0, 0}},
        {"rest of long line is its own piece", "@12345678,9ABCI1\n", 0x12345678, 3, {0x9ABC, 3, 0, 0}},
        {"mapping ignored while source id 0", "@0,5\n", 0, 0, {0, 0, 0, 0}},
        {"mapping ignored for negative id", "@FFFFFFFF,5\n", -1, 0, {-1, 0, 0, 0}},
        {"mapping to 0", "@400,0\n", 0x400, 0, {0, 0, 0, 0}},
        {"mappings never chain", "@400,401\n@401,402\n", 0x400, 0, {0x401, 0, 0, 0}},
        {"unreadable mapping ignored", "@400\n@400,\n@zz,1\n@400,7\n", 0x400, 0, {7, 0, 0, 0}},
        {"CR LF lines", "I1\r\nM3,4\r\n", 1, 3, {1, 2, 3, 4}},
        {"CR inside a piece is dropped", "M1\r2,3\n", 1, 0, {1, 0, 12, 3}},
        {"Ctrl-Z ends the file", "I1\n\x1aI1\n", 1, 3, {1, 2, 0, 0}},
        {"Ctrl-Z inside a line", "M5\x1a,7\n", 1, 0, {1, 0, 5, 0}},
        {"no final line feed acts once", "I1\nI1", 1, 5, {1, 3, 0, 0}},
        // A short last piece must not keep bytes of the longer one before it.
        {"short last line without line feed", "M10,5\nM2", 1, 0, {1, 0, 2, 5}},
        {"Ctrl-Z, then a line that would act", "I1\n\x1a\nI1\n", 1, 3, {1, 2, 0, 0}},
        {"UTF-8 byte order mark skipped", "\xEF\xBB\xBFM10,5\n", 1, 0, {1, 0, 10, 5}},
        // Saved by Notepad as "Unicode": the same lines, in UTF-16 either way round.
        {"UTF-16LE", std::string("\xFF\xFEI\0" "1\0\r\0\n\0M\0" "5\0,\0" "6\0", 18), 1, 3, {1, 2, 5, 6}},
        {"UTF-16BE", std::string("\xFE\xFF\0I\0" "1\0\n\0@\0" "1\0,\0" "2", 16), 1, 3, {2, 2, 0, 0}},
        {"UTF-16 remark of other characters", std::string("\xFF\xFE;\0\xAB\x30=\xD8\x11\xDE\n\0I\0" "1\0", 16), 1, 3,
         {1, 2, 0, 0}},
        // A UTF-16 file is cut into pieces as the code page stores its text
        // (UTF-8 here): the same text acts the same whatever it is saved as.
        {"UTF-8: a remark of 14 bytes, then a mapping", "\xE6\x97\xA5" "12345678901" "23@400,20\n", 0x400, 0,
         {0x400, 0, 0, 0}},
        {"the same text in UTF-16", fake_utf16("\xE6\x97\xA5" "12345678901" "23@400,20\n", true), 0x400, 0,
         {0x400, 0, 0, 0}},
        // A pair of UTF-16 units is one character (four bytes in UTF-8).
        {"a character outside the basic plane", fake_utf16("\xF0\x9F\x88\x91" "1234567890I5\n", false), 1, 9,
         {1, 4, 0, 0}},
        {"a lone half of a pair", std::string("\xFF\xFE\x11\xDEI\0" "1\0", 8), 1, 3, {1, 3, 0, 0}},
        {"the odd byte after the mapping that matched is never read", fake_utf16("@400,20\n", true) + "\x30", 0x400, 0,
         {0x20, 0, 0, 0}},
        {"14-character last line without line feed", "I1\nM0000000030,25", 1, 3, {1, 2, 30, 25}},
        {"byte order mark, then 13 characters", "\xEF\xBB\xBFM1234567890,2\n", 1, 0, {1, 0, 30, 2}},
        {"a mark's first bytes only are kept", "\xEF\xBBM10,5\nI1\n", 1, 3, {1, 2, 0, 0}},
        {"a mark later is no mark", "I1\n\xEF\xBB\xBFM10,5\n", 1, 3, {1, 2, 0, 0}},
        {"blanks before numbers skipped", "M\v5,\f6\nI\t1\n", 1, 3, {1, 2, 5, 6}},
        {"lower case and blanks ignored", "i1\nm5,5\n I1\n", 1, 3, {1, 3, 0, 0}},
        {"NUL byte ends the piece's text", std::string("M4\0,9\nI1\n", 9), 1, 3, {1, 2, 4, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result got = apply(c.file, c.source_id, c.instance);
        EXPECT_EQ(got.source_id, c.want.source_id);
        EXPECT_EQ(got.instance, c.want.instance);
        EXPECT_EQ(got.lead, c.want.lead);
        EXPECT_EQ(got.trail, c.want.trail);
    }
}

// A settings file is read through the platform up to the mapping that
// matches, or the run refuses: a read that fails before it is no end of the
// file, nor is a UTF-16 file that ends inside a character.
TEST(Settings, ReadsThroughThePlatformUpToTheMatchOrNotAtAll)
{
    const struct {
        const char* what;
        std::string file; // "": missing
        size_t fails_after;
        SettingsRead want;
        int32_t instance;
        const char* why;
    } cases[] = {
        {"read whole", "M7,8\r\nI1\r\n", SIZE_MAX, SETTINGS_APPLIED, 1, ""},
        {"missing", "", SIZE_MAX, SETTINGS_NOT_OPENED, 2, "No such file or directory"},
        {"a read fails after the first chunk", "M7,8\r\nI1\r\n", 4, SETTINGS_READ_FAILED, 2, "Input/output error"},
        {"a read fails after the mapping that matched", "@1,2\nI1\n", 5, SETTINGS_APPLIED, 2, ""},
        // The mapping's last character is cut short: "@1,20" saved, "@1,2" and a byte left.
        {"UTF-16 cut one byte short", fake_utf16("I1\r\nM10,5\r\n@1,2", true) + "\x30", SIZE_MAX, SETTINGS_READ_FAILED, 1,
         "it is saved as UTF-16, and its last character is cut short"},
    };
    for (const auto& c : cases) {
        const Platform& os = fake_platform();
        if (!c.file.empty())
            fake.files["/fake/q.ini"] = c.file;
        fake.read_fails_after = c.fails_after;
        int32_t source_id = 1, instance = 2;
        Margins m = {0, 0};
        SettingsRecord record;
        char why[REASON_CAP] = "";
        EXPECT_EQ(settings_read("/fake/q.ini", os, &source_id, &instance, &m, &record, why, sizeof why), c.want)
            << c.what;
        EXPECT_EQ(instance, c.instance) << c.what;
        EXPECT_STREQ(c.want == SETTINGS_APPLIED ? "" : why, c.why) << c.what;
    }
}

// The sample shipped beside the program acts only once edited: a line of it
// that acted (or a piece of a long remark that began with I, M or @) would
// change every run of a new installation.
TEST(Settings, SampleFileChangesNothing)
{
    for (int32_t instance : {0, 2, -6}) {
        int32_t source_id = 0x3FF, got_instance = instance;
        Margins m = {0, 0};
        SettingsRecord record;
        char why[REASON_CAP];
        ASSERT_EQ(settings_read(QB_SAMPLE_SETTINGS, platform_os, &source_id, &got_instance, &m, &record, why, sizeof why),
                  SETTINGS_APPLIED);
        EXPECT_EQ(source_id, 0x3FF);
        EXPECT_EQ(got_instance, instance);
        EXPECT_EQ(m.lead, 0);
        EXPECT_EQ(m.trail, 0);
    }
}

} // namespace
