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

// The progress lines of a countdown from `from` seconds, ten a second.
std::string countdown(int from)
{
    std::string s;
    for (int left = from; left >= 1; left--)
        for (int tenth = 0; tenth < 10; tenth++)
            s += "Please wait..." + std::to_string(left) + "   \r";
    return s;
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

TEST(Wait, CountsDownInsideTheLaunchMinute)
{
    const Hooks& h = fake_hooks();
    fake_set_clock(20, 59, 10);
    timing_wait_for_launch(LaunchMoment{20, 59, 40}, h);
    EXPECT_EQ(fake.out, countdown(30) + BLANKING);
    EXPECT_EQ(fake.sleeps, std::vector<unsigned>(300, 100));
    EXPECT_EQ(fake.clock_ms, (20 * 3600 + 59 * 60 + 40) * 1000LL);
}

TEST(Wait, NoWaitAtOrAfterTheLaunchSecond)
{
    const Hooks& h = fake_hooks();
    fake_set_clock(20, 59, 45);
    timing_wait_for_launch(LaunchMoment{20, 59, 40}, h);
    EXPECT_EQ(fake.out, BLANKING);
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST(Wait, WaitsOneSecondAtATimeUntilTheLaunchMinute)
{
    const Hooks& h = fake_hooks();
    fake_set_clock(20, 58, 57);
    timing_wait_for_launch(LaunchMoment{20, 59, 2}, h);
    std::string plain = "Please wait...    \r";
    EXPECT_EQ(fake.out, plain + plain + plain + countdown(2) + BLANKING);
    EXPECT_EQ(fake.sleeps.size(), 23u);
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
