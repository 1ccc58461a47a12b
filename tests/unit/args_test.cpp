#include "launcher/args.h"
#include "base/numbers.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Invocation classify(std::vector<const char*> args)
{
    args.insert(args.begin(), "quellatorbin");
    return args_classify((int)args.size(), args.data());
}

struct Want {
    int32_t file_pos, source_id, instance, time_pos, stop_pos, fixed_name_pos;
};

struct ClassifyCase {
    std::vector<const char*> args;
    Want want;
    int file_index = 0, time_index = 0; // where they stand in argv; checked where given
};

TEST(Args, ClassifiesByFormLastOneWins)
{
    const ClassifyCase cases[] = {
        {{}, {0, 0, 0, 0, 0, 0}},
        {{"rec.ts", "@400", "I2", "21:00-21:30"}, {1, 0x400, 2, 4, 0, 0}},
        {{"21:00-21:30", "I2", "@400", "rec.ts"}, {4, 0x400, 2, 1, 0, 0}},
        {{"i2", "sto", "x"}, {0, 0, 0, 0, 0, 0}},
        {{"STOP"}, {0, 0, 0, 0, 1, 0}},
        {{"Stop"}, {0, 0, 0, 0, 1, 0}},
        {{"x", "stopnow"}, {0, 0, 0, 0, 2, 0}},
        {{"FN"}, {0, 0, 0, 0, 0, 1}},
        {{"a", "fname"}, {0, 0, 0, 0, 0, 2}},
        {{"@1.5"}, {1, 0, 0, 0, 0, 0}},
        {{"21:00.ts"}, {1, 0, 0, 0, 0, 0}},
        {{"0x12"}, {0, 0, 0, 1, 0, 0}},
        {{"@400", "@3ff"}, {0, 0x3FF, 0, 0, 0, 0}},
        {{"a.ts", "b.ts", "2100", "2200"}, {2, 0, 0, 4, 0, 0}},
        {{"I2", "I7"}, {0, 0, 7, 0, 0, 0}},
        // "I" is capital only; "stop" wins over "fn" only by being first in the tests.
        {{"Instop"}, {0, 0, 0, 0, 0, 0}},
        {{"fnstop"}, {0, 0, 0, 0, 0, 1}},
        {{""}, {0, 0, 0, 0, 0, 0}},
        // A check's switches are not counted: its positions are the run's.
        {{"rec.ts", "--check", "@400", "2100"}, {1, 0x400, 0, 3, 0, 0}, 1, 4},
        {{"/CHECK", "2100", "--check", "rec.ts"}, {2, 0, 0, 1, 0, 0}, 4, 2},
        {{"--checks.ts", "/check2"}, {1, 0, 0, 0, 0, 0}, 1, 0}, // no switches: a file, and an ignored word
    };
    for (const ClassifyCase& c : cases) {
        Invocation got = classify(c.args);
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(got.file_pos, c.want.file_pos);
        EXPECT_EQ(got.source_id, c.want.source_id);
        EXPECT_EQ(got.instance, c.want.instance);
        EXPECT_EQ(got.time_pos, c.want.time_pos);
        EXPECT_EQ(got.stop_pos, c.want.stop_pos);
        EXPECT_EQ(got.fixed_name_pos, c.want.fixed_name_pos);
        if (c.file_index || c.time_index) {
            EXPECT_EQ(got.file_index, c.file_index);
            EXPECT_EQ(got.time_index, c.time_index);
        }
    }
}

// A switch anywhere decides what the program does; the help wins, then the
// version, then the check; a word that only begins like one is none.
TEST(Args, SwitchesAnywhereDecideTheMode)
{
    const struct {
        std::vector<const char*> args;
        Mode want;
    } cases[] = {
        {{}, MODE_RUN},
        {{"rec.ts", "@400", "2100"}, MODE_RUN},
        {{"--check", "rec.ts"}, MODE_CHECK},
        {{"rec.ts", "@400", "2100", "I2", "--check"}, MODE_CHECK},
        {{"rec.ts", "/Check"}, MODE_CHECK},
        {{"rec.ts", "--help"}, MODE_HELP},
        {{"--check", "/?"}, MODE_HELP},
        {{"-h"}, MODE_HELP},
        {{"-?"}, MODE_HELP},
        {{"/H"}, MODE_HELP},
        {{"--version", "--check"}, MODE_VERSION},
        {{"--version", "-h"}, MODE_HELP},
        {{"--checked", "--helpme", "-hh", "--version2", "check", "help"}, MODE_RUN},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = c.args;
        argv.insert(argv.begin(), "quellatorbin");
        EXPECT_EQ(args_mode((int)argv.size(), argv.data()), c.want) << testing::PrintToString(c.args);
    }
}

TEST(Args, ReadsNumbersAsTheFormatsDo)
{
    const struct {
        const char* arg;
        int32_t want;
    } sources[] = {
        {"@3ff", 0x3FF},           {"@3FF", 0x3FF},        {"@0x3ff", 0x3FF},
        {"@0X3FF", 0x3FF},         {"@ 400", 0x400},       {"@+10", 0x10},
        {"@123456789", 0x23456789}, {"@-1", -1},            {"@FFFFFFFF", -1},
        {"@1234567890ABCDEF", (int32_t)0x90ABCDEF},        {"@400zz", 0x400},
        {"@zz", 0},                {"@", 0},               {"@0", 0},
        {"@0xz", 0},               {"@-", 0},
        // Every blank the C library's isspace() skips: tab, line feed,
        // vertical tab, form feed, carriage return.
        {"@\t\n\v\f\r400", 0x400},
    };
    for (const auto& c : sources) {
        SCOPED_TRACE(c.arg);
        EXPECT_EQ(classify({c.arg}).source_id, c.want);
    }
    const struct {
        const char* arg;
        int32_t want;
    } instances[] = {
        {"I2", 2}, {"I-1", -1}, {"I 7", 7}, {"I2x", 2}, {"Ix", 0}, {"I", 0}, {"I0x5", 0},
        {"I4294967298", 2}, {"I2147483648", INT32_MIN}, {"I\v\f\r7", 7},
    };
    for (const auto& c : instances) {
        SCOPED_TRACE(c.arg);
        EXPECT_EQ(classify({c.arg}).instance, c.want);
    }
}

TEST(Numbers, ScanPairNeedsSeparatorRightAfterFirstNumber)
{
    int32_t a = 99, b = 99;
    EXPECT_TRUE(scan_pair("21:30", ':', 10, &a, &b));
    EXPECT_EQ(a, 21);
    EXPECT_EQ(b, 30);
    EXPECT_TRUE(scan_pair("21: 5x", ':', 10, &a, &b));
    EXPECT_EQ(b, 5);
    a = b = 99;
    EXPECT_FALSE(scan_pair("21 :30", ':', 10, &a, &b));
    EXPECT_FALSE(scan_pair("21:", ':', 10, &a, &b));
    EXPECT_FALSE(scan_pair(":30", ':', 10, &a, &b));
    EXPECT_EQ(a, 99); // nothing is stored from a failed pair
    EXPECT_EQ(b, 99);
}

} // namespace
