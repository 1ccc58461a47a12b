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

TEST(Wait, StepDecidesFromTwoClockReadings)
{
    const LaunchMoment at = {20, 59, 40, 21, 30, 0};    // 21:00-21:30
    const LaunchMoment midnight = {23, 59, 10, 0, 30, 0}; // 0:00-0:30 with a lead of 30 s
    const LaunchMoment berlin = {3, 9, 40, 3, 40, 0};    // 3:10-3:40 on 2026-10-25 in Berlin
    const LaunchMoment noon = {12, 0, 30, 12, 30, 0};    // 12:01-12:30 with a lead of 10 s
    const LocalTime NONE = {-1, 0, 0};
    const WaitStep::Verdict WAIT = WaitStep::WAIT, GO = WaitStep::GO, MISSED = WaitStep::MISSED;
    const struct {
        const char* name;
        LocalTime before, now;
        const LaunchMoment& at;
        WaitStep::Verdict verdict;
        unsigned pause_ms;
        int countdown;
    } cases[] = {
        // The first reading: inside the launch minute or not.
        {"countdown", NONE, {20, 59, 10}, at, WAIT, 100, 30},
        {"last tenth", NONE, {20, 59, 39}, at, WAIT, 100, 1},
        {"at the launch second", NONE, {20, 59, 40}, at, GO, 0, 0},
        {"late in the launch minute", NONE, {20, 59, 59}, at, GO, 0, 0},
        {"a second before the launch minute", NONE, {20, 58, 59}, at, WAIT, 1000, 0},
        {"late start waits for tomorrow", NONE, {21, 0, 5}, at, WAIT, 1000, 0},
        {"other hour", NONE, {8, 59, 10}, at, WAIT, 1000, 0},
        {"other minute", NONE, {20, 0, 10}, at, WAIT, 1000, 0},
        // A reading after another: the clock crossed the launch moment or not.
        {"no crossing", {20, 58, 59}, {20, 59, 0}, at, WAIT, 100, 40},
        {"reaching the launch second", {20, 59, 39}, {20, 59, 40}, at, GO, 0, 0},
        {"late start goes on waiting", {21, 0, 5}, {21, 0, 6}, at, WAIT, 1000, 0},
        {"clock stepped over the launch minute", {20, 58, 0}, {21, 0, 1}, at, GO, 0, 0},
        {"process stopped in the countdown", {20, 59, 25}, {21, 0, 10}, at, GO, 0, 0},
        {"jump ends just before the window's end", {20, 58, 0}, {21, 29, 59}, at, GO, 0, 0},
        {"jump ends at the window's end", {20, 58, 0}, {21, 30, 0}, at, MISSED, 0, 0},
        {"jump past the window's end", {20, 58, 0}, {21, 40, 1}, at, MISSED, 0, 0},
        {"across midnight", {23, 58, 50}, {0, 0, 5}, midnight, GO, 0, 0},
        {"across midnight past the end", {23, 50, 0}, {0, 31, 0}, midnight, MISSED, 0, 0},
        {"11:59:59 ahead is a jump forward", {9, 0, 1}, {21, 0, 0}, at, GO, 0, 0},
        {"a jump over a launch in the first minute", {12, 0, 5}, {12, 10, 0}, noon, GO, 0, 0},
        {"12 hours ahead is a step backwards", {9, 0, 0}, {21, 0, 0}, at, WAIT, 1000, 0},
        // Steps backwards cross nothing: the wait goes on as before.
        {"autumn change 03:00 CEST to 02:00 CET", {2, 59, 59}, {2, 0, 0}, berlin, WAIT, 1000, 0},
        {"clock set back over the launch moment", {3, 20, 0}, {3, 5, 0}, berlin, WAIT, 1000, 0},
        {"clock set back into the launch minute", {3, 9, 39}, {3, 9, 30}, berlin, WAIT, 100, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WaitStep s = timing_wait_step(c.before.hour < 0 ? nullptr : &c.before, c.now, c.at);
        EXPECT_EQ(s.verdict, c.verdict);
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
        const Platform& h = fake_platform();
        fake_set_clock(c.start[0], c.start[1], c.start[2]);
        fake.oversleep_ms = c.oversleep_ms;
        LocalTime before, after;
        EXPECT_TRUE(timing_wait_for_launch(c.at, h, &before, &after));
        EXPECT_EQ(fake.out, c.out);
        EXPECT_EQ(fake.sleeps.size(), c.pauses);
        EXPECT_EQ(fake.clock_ms, c.end_ms);
    }
}

TEST(Wait, StartedAfterTheLaunchMinuteWaitsForTheNextDay)
{
    const Platform& h = fake_platform();
    fake_set_clock(21, 0, 5);
    LocalTime before, after;
    EXPECT_TRUE(timing_wait_for_launch(LaunchMoment{20, 59, 40}, h, &before, &after));
    // 21:00:05 to 20:59:00 next day one second at a time, then 40 s in tenths.
    const size_t seconds = 24 * 3600 - 65;
    EXPECT_EQ(count(fake.out, "Please wait...    \r"), seconds);
    EXPECT_EQ(count(fake.out, "Please wait...40   \r"), 10u);
    EXPECT_EQ(count(fake.out, "Please wait...1   \r"), 10u);
    EXPECT_EQ(fake.sleeps.size(), seconds + 400);
    EXPECT_EQ(fake.clock_ms, (24 * 3600 + 20 * 3600 + 59 * 60 + 40) * 1000LL);
    EXPECT_EQ(fake.out.substr(fake.out.size() - BLANKING.size()), BLANKING);
}

// A clock that cannot be read times nothing: after an hour of pauses without
// a reading the launch comes, never a wait without end.
TEST(Wait, AClockThatCannotBeReadEndsTheWaitAfterAnHour)
{
    Platform os = fake_platform();
    os.local_time = [](int64_t, LocalTime*) { return false; };
    LocalTime before, after;
    EXPECT_TRUE(timing_wait_for_launch(LaunchMoment{20, 59, 40}, os, &before, &after));
    EXPECT_EQ(fake.sleeps.size(), 3599u);
}

} // namespace
