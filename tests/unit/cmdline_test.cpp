#include "platform/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const char* text)
{
    char store[256];
    char* words[16];
    int n = cmdline_split(text, store, sizeof store, words, 16);
    if (n < 0)
        return {"<does not fit>"};
    EXPECT_EQ(words[n], nullptr);
    return std::vector<std::string>(words, words + n);
}

using Words = std::vector<std::string>;

TEST(Cmdline, SplitsByTheCRuntimeRules)
{
    const struct {
        const char* text;
        Words want;
    } cases[] = {
        {"", {""}},
        {"   \t ", {""}},
        {"a", {"a"}},
        {"  a\tb   c  ", {"", "a", "b", "c"}},
        {"a \"b c\" d", {"a", "b c", "d"}},
        {"a \\\"b\\\" c\\\\\"d\"", {"a", "\"b\"", "c\\d"}},
        {"a C:\\x\\ \"y z\"", {"a", "C:\\x\\", "y z"}},
        {"a \"C:\\x\\\\\" y", {"a", "C:\\x\\", "y"}},
        {"a b\\\\\\\"c", {"a", "b\\\"c"}},
        {"a \"\"", {"a", ""}},
        {"a \"b\"\"c\"", {"a", "b\"c"}},
        {"a b\"c d\"e f", {"a", "bc de", "f"}},
        {"a \"unterminated b", {"a", "unterminated b"}},
        {"\"C:\\Program Files\\z.exe\" x", {"C:\\Program Files\\z.exe", "x"}},
        // The program name follows the same rules as the other words.
        {"\"a\"\"b c\" d", {"a\"b c", "d"}},
        {"a\\\"b c", {"a\"b", "c"}},
        {"\"C:\\x\"y z", {"C:\\xy", "z"}},
        {"C:\\dir\\z.exe \"News $OS `x`; y.ts\" @400 2100", {"C:\\dir\\z.exe", "News $OS `x`; y.ts", "@400", "2100"}},
        {"taskkill /F /IM zarnivek2.exe 1>nul 2>nul", {"taskkill", "/F", "/IM", "zarnivek2.exe", "1>nul", "2>nul"}},
        {"/q/z.exe \"\xe8\xa1\xa8 %OS%.ts\"", {"/q/z.exe", "\xe8\xa1\xa8 %OS%.ts"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(split(c.text), c.want) << c.text;
}

TEST(Cmdline, RefusesWhatDoesNotFit)
{
    char store[8];
    char* words[4];
    EXPECT_EQ(cmdline_split("abcdefgh", store, sizeof store, words, 4), -1);
    EXPECT_EQ(cmdline_split("abcdefg", store, sizeof store, words, 4), 1);
    EXPECT_EQ(cmdline_split("a b c d", store, sizeof store, words, 4), -1);
    EXPECT_EQ(cmdline_split("a b c", store, sizeof store, words, 4), 3);
}

} // namespace
