// Windows' rules for file names (applied on Windows only; Linux names may
// hold all of these), over the bytes of the name in the code page.
#include "base/text.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

bool cp932_lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

TEST(Text, WindowsNamesThatNoFileCanHave)
{
    const char* const WILDCARD = "it holds one of ? * | < >, which no Windows file name may hold";
    const char* const STREAM = "it holds a ':' that is no drive's: on NTFS it would name a stream of another file";
    const char* const DEVICE = "it names a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9), not a file";
    const char* const PART = "a part of it is longer than 255 characters";
    const char* const PATH = "as a full path it is longer than 259 characters (a leading \\\\?\\ lifts that)";
    const std::string part255(252, 'p'), part256(253, 'p'), kanji255(252 * 2, '\x95');
    const struct {
        std::string name;
        size_t full_len;      // 0: the name's own length
        const char* superscripts;
        const char* want;     // nullptr: Windows can make the file
    } cases[] = {
        {"rec.ts", 0, "", nullptr},
        {"D:\\tv\\a.ts", 0, "", nullptr},
        {"\\\\?\\D:\\tv\\a.ts", 0, "", nullptr},
        {"\\\\.\\D:\\tv\\a.ts", 0, "", nullptr},
        {"\\\\server\\share\\a.ts", 0, "", nullptr},
        {"a*.ts", 0, "", WILDCARD},
        {"a?.ts", 0, "", WILDCARD},
        {"a|b.ts", 0, "", WILDCARD},
        {"a<b.ts", 0, "", WILDCARD},
        {"a>b.ts", 0, "", WILDCARD},
        {"\\\\?\\D:\\a?.ts", 0, "", WILDCARD},
        {"News:Special.ts", 0, "", STREAM},
        {"D:\\tv\\a:b.ts", 0, "", STREAM},
        {"\\\\?\\D:a:b.ts", 0, "", STREAM},
        {"1:2.ts", 0, "", STREAM},
        {"NUL.ts", 0, "", DEVICE},
        {"nul", 0, "", DEVICE},
        {"D:\\tv\\Con.x.ts", 0, "", DEVICE},
        {"aux  .ts", 0, "", DEVICE},
        {"COM1.ts", 0, "", DEVICE},
        {"lpt9.ts", 0, "", DEVICE},
        {"prn/x/PRN.ts", 0, "", DEVICE},
        {"COM\xB9.ts", 0, "\xB9\xB2\xB3", DEVICE}, // COM¹ in code page 1252
        {"COM\xB9.ts", 0, "", nullptr},            // a code page whose B9 is no superscript
        {"CONSOLE.ts", 0, "", nullptr},
        // A last '.' or blank Windows would take away: "exist.ts." stored as "exist.ts".
        {"exist.ts.", 0, "", "it ends with a '.' or a blank, which Windows takes away"},
        {"D:\\tv\\a.ts ", 0, "", "it ends with a '.' or a blank, which Windows takes away"},
        {"\\\\?\\D:\\a.ts.", 0, "", nullptr},
        {"COM0.ts", 0, "", nullptr},
        {"LPT10.ts", 0, "", nullptr},
        {"x.nul", 0, "", nullptr},
        {"nul\\x.ts", 0, "", nullptr}, // a directory of that name is a path, not the device
        {" nul.ts", 0, "", nullptr},
        {part255 + ".ts", 0, "", nullptr},
        {part256 + ".ts", 0, "", PART},
        {kanji255 + ".ts", 260, "", PATH}, // 255 characters of two bytes each: the part fits
        {"a.ts", 259, "", nullptr},
        {"a.ts", 260, "", PATH},
        {"\\\\?\\D:\\a.ts", 300, "", nullptr},
        {"\x95\\.ts", 0, "", nullptr}, // 表.ts: its second byte is no separator
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        size_t full = c.full_len ? c.full_len : c.name.size();
        const char* got = text_windows_name_problem(c.name.c_str(), full, cp932_lead, c.superscripts);
        EXPECT_STREQ(got ? got : "(none)", c.want ? c.want : "(none)");
    }
}

} // namespace
