#include "timing/wait.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string BLANKING = "                      \r";

size_t count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        n++;
    return n;
}

const std::string PLAIN = "Please wait...    \r";

// The progress lines of a countdown from `from` seconds, `per_second` a second.
std::string countdown(int from, int per_second = 10)
{
    std::string s;
    for (int left = from; left >= 1; left--)
        for (int i = 0; i < per_second; i++)
            s += "Please wait..." + std::to_string(left) + "   \r";
    return s;
}

long long ms_of(int h, int m, int s, int ms = 0)
{
    return ((h * 60LL + m) * 60 + s) * 1000 + ms;
}

TEST(Wait, StepDecidesFromOneClockReading)
{
    const LaunchMoment at = {20, 59, 40};
    const struct {
        LocalTime now;
        unsigned pause_ms;
        int countdown;
    } cases[] = {
        {{20, 59, 10}, 100, 30}, {{20, 59, 39}, 100, 1},  {{20, 59, 40}, 0, 0},  {{20, 59, 59}, 0, 0},
        {{20, 58, 59}, 1000, 0}, {{21, 0, 5}, 1000, 0},   {{8, 59, 10}, 1000, 0}, {{20, 0, 10}, 1000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.now.hour) + ":" + std::to_string(c.now.minute) + ":" +
                     std::to_string(c.now.second));
        WaitStep s = timing_wait_step(c.now, at);
        EXPECT_EQ(s.pause_ms, c.pause_ms);
        EXPECT_EQ(s.countdown, c.countdown);
    }
}

TEST(Wait, WaitsUntilTheLaunchMoment)
{
    const struct {
        const char* name;
        int start[3];
        LaunchMoment at;
        unsigned oversleep_ms;
        std::string out;
        size_t pauses;
        long long end_ms;
    } cases[] = {
        {"countdown inside the launch minute", {20, 59, 10}, {20, 59, 40}, 0, countdown(30) + BLANKING, 300,
         ms_of(20, 59, 40)},
        {"no wait at or after the launch second", {20, 59, 45}, {20, 59, 40}, 0, BLANKING, 0, ms_of(20, 59, 45)},
        {"one second at a time until the launch minute", {20, 58, 57}, {20, 59, 2}, 0,
         PLAIN + PLAIN + PLAIN + countdown(2) + BLANKING, 23, ms_of(20, 59, 2)},
        // Pauses that run long (a busy machine): every line and the launch
        // follow the clock, never the sum of the pauses asked for.
        {"pauses of 100 ms that take 1 s", {20, 59, 10}, {20, 59, 40}, 900, countdown(30, 1) + BLANKING, 30,
         ms_of(20, 59, 40)},
        {"pauses of 1 s that take 1.9 s", {20, 58, 57}, {20, 59, 2}, 900, PLAIN + PLAIN + countdown(2, 1) + BLANKING,
         4, ms_of(20, 59, 2, 800)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Hooks& h = fake_hooks();
        fake_set_clock(c.start[0], c.start[1], c.start[2]);
        fake.oversleep_ms = c.oversleep_ms;
        timing_wait_for_launch(c.at, h);
        EXPECT_EQ(fake.out, c.out);
        EXPECT_EQ(fake.sleeps.size(), c.pauses);
        EXPECT_EQ(fake.clock_ms, c.end_ms);
    }
}

TEST(Wait, StartedAfterTheLaunchMinuteWaitsForTheNextDay)
{
    const Hooks& h = fake_hooks();
    fake_set_clock(21, 0, 5);
    timing_wait_for_launch(LaunchMoment{20, 59, 40}, h);
    // 21:00:05 to 20:59:00 next day one second at a time, then 40 s in tenths.
    const size_t seconds = 24 * 3600 - 65;
    EXPECT_EQ(count(fake.out, "Please wait...    \r"), seconds);
    EXPECT_EQ(count(fake.out, "Please wait...40   \r"), 10u);
    EXPECT_EQ(count(fake.out, "Please wait...1   \r"), 10u);
    EXPECT_EQ(fake.sleeps.size(), seconds + 400);
    EXPECT_EQ(fake.clock_ms, (24 * 3600 + 20 * 3600 + 59 * 60 + 40) * 1000LL);
    EXPECT_EQ(fake.out.substr(fake.out.size() - BLANKING.size()), BLANKING);
}

} // namespace
