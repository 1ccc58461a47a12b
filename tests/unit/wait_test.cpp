#include "timing/wait.h"

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string>
#include <vector>

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

// A reading's time of day, in seconds since midnight.
int64_t seconds_of(const LocalTime& t)
{
    return (t.hour * 60 + t.minute) * 60 + t.second;
}

TEST(Wait, StepDecidesFromTwoClockReadings)
{
    const LaunchMoment at = {20, 59, 40, 21, 30, 0};    // 21:00-21:30
    const LaunchMoment midnight = {23, 59, 10, 0, 30, 0}; // 0:00-0:30 with a lead of 30 s
    const LaunchMoment berlin = {3, 9, 40, 3, 40, 0};    // 3:10-3:40 on 2026-10-25 in Berlin
    const LaunchMoment noon = {12, 0, 30, 12, 30, 0};    // 12:01-12:30 with a lead of 10 s
    const LocalTime NONE = {-1, 0, 0};
    const WaitStep::Verdict WAIT = WaitStep::WAIT, GO = WaitStep::GO, MISSED = WaitStep::MISSED;
    const int64_t H = 3600;
    const struct {
        const char* name;
        LocalTime before, now;
        const LaunchMoment& at;
        WaitStep::Verdict verdict;
        unsigned pause_ms;
        int countdown;
        int64_t later = 0; // the system clock's step from the reading before to now
        int offset_change = 0; // the zone's offset now less its offset before
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
        {"no crossing", {20, 58, 59}, {20, 59, 0}, at, WAIT, 100, 40, 1},
        {"reaching the launch second", {20, 59, 39}, {20, 59, 40}, at, GO, 0, 0, 1},
        {"late start goes on waiting", {21, 0, 5}, {21, 0, 6}, at, WAIT, 1000, 0, 1},
        {"clock stepped over the launch minute", {20, 58, 0}, {21, 0, 1}, at, GO, 0, 0, 121},
        {"process stopped in the countdown", {20, 59, 25}, {21, 0, 10}, at, GO, 0, 0, 45},
        {"jump ends just before the window's end", {20, 58, 0}, {21, 29, 59}, at, GO, 0, 0, 1919},
        {"jump ends at the window's end", {20, 58, 0}, {21, 30, 0}, at, MISSED, 0, 0, 1920},
        {"jump past the window's end", {20, 58, 0}, {21, 40, 1}, at, MISSED, 0, 0, 2521},
        {"across midnight", {23, 58, 50}, {0, 0, 5}, midnight, GO, 0, 0, 75},
        {"across midnight past the end", {23, 50, 0}, {0, 31, 0}, midnight, MISSED, 0, 0, 2460},
        {"11:59:59 ahead is a jump forward", {9, 0, 1}, {21, 0, 0}, at, GO, 0, 0, 12 * H - 1},
        {"a jump over a launch in the first minute", {12, 0, 5}, {12, 10, 0}, noon, GO, 0, 0, 595},
        // Steps backwards cross nothing: the wait goes on as before.
        {"12 hours back", {9, 0, 0}, {21, 0, 0}, at, WAIT, 1000, 0, -12 * H},
        {"autumn change 03:00 CEST to 02:00 CET", {2, 59, 59}, {2, 0, 0}, berlin, WAIT, 1000, 0, 1, -3600},
        {"clock set back over the launch moment", {3, 20, 0}, {3, 5, 0}, berlin, WAIT, 1000, 0, -900},
        {"clock set back into the launch minute", {3, 9, 39}, {3, 9, 30}, berlin, WAIT, 100, 10, -9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalTime before = c.before, now = c.now;
        before.clock = 1781078400; // 2026-06-10 08:00:00 UTC
        now.clock = before.clock + c.later;
        now.utc_offset = before.utc_offset + c.offset_change;
        if (c.before.hour >= 0) { // the row's times of day agree with its step
            ASSERT_EQ(seconds_of(now), (seconds_of(before) + c.later + c.offset_change + 2 * 86400) % 86400);
        }
        WaitStep s = timing_wait_step(c.before.hour < 0 ? nullptr : &before, now, c.at);
        EXPECT_EQ(s.verdict, c.verdict);
        EXPECT_EQ(s.pause_ms, c.pause_ms);
        EXPECT_EQ(s.countdown, c.countdown);
    }
}

// A zone: its offset east of UTC, and the system times from which it changes.
struct Zone {
    int offset;
    struct {
        int64_t at;
        int offset;
    } changes[2];
};

// The zone's offset at the system time t.
int offset_at(const Zone& z, int64_t t)
{
    int offset = z.offset;
    for (const auto& c : z.changes)
        offset = t >= c.at ? c.offset : offset;
    return offset;
}

// What the clock reads at the system time t in the zone.
LocalTime reading(const Zone& z, int64_t t)
{
    int64_t s = ((t + offset_at(z, t)) % 86400 + 86400) % 86400;
    LocalTime r = {(int)(s / 3600), (int)(s / 60 % 60), (int)(s % 60)};
    r.utc_offset = offset_at(z, t);
    r.clock = t;
    return r;
}

// The system time after t0, at or before t1, from which on the local clock
// (t plus the zone's offset at t) reads `local` or later until t1: it showed
// it, or jumped past it, and did not go back before it; -1 when there is none.
int64_t reached(const Zone& z, int64_t t0, int64_t t1, int64_t local)
{
    int64_t since = -1;
    for (int64_t from = t0 + 1, to; from <= t1; from = to + 1) {
        to = t1; // one offset from `from` to `to`
        for (const auto& c : z.changes)
            to = c.at > from && c.at - 1 < to ? c.at - 1 : to;
        int offset = offset_at(z, from);
        if (from + offset >= local)
            since = since < 0 ? from : since;
        else
            since = to + offset >= local ? local - offset : -1;
    }
    return since;
}

// The first local time after `after` whose time of day is `of`.
int64_t next_showing(int64_t after, int64_t of)
{
    int64_t showing = after - (after % 86400 + 86400) % 86400 + of;
    return showing > after ? showing : showing + 86400;
}

// What the wait should do from the readings at t0 and t1: go when the local
// clock reached the launch moment's next showing after t0, and stayed at or
// past it; missed when it reached the window's next end after that too.
// An hour the clock shows twice (the autumn change) counts at its second
// showing: two readings on either side of the change cannot tell whether the
// wait slept through the first one, and a wait goes on to meet the second.
// Nothing reached: the launch minute's rule on the reading at t1.
WaitStep::Verdict reference(const Zone& z, int64_t t0, int64_t t1, const LaunchMoment& at)
{
    int64_t launch = next_showing(t0 + offset_at(z, t0), (at.hour * 60 + at.minute) * 60 + at.second);
    int64_t end = next_showing(launch, (at.end_hour * 60 + at.end_minute) * 60 + at.end_second);
    if (reached(z, t0, t1, launch) >= 0)
        return at.end_hour >= 0 && reached(z, t0, t1, end) >= 0 ? WaitStep::MISSED : WaitStep::GO;
    int64_t into = seconds_of(reading(z, t1)) - (at.hour * 60 + at.minute) * 60 - at.second;
    return into >= 0 && into < 60 - at.second ? WaitStep::GO : WaitStep::WAIT;
}

// Every launch minute of a day, each with its own lead margin and one of six
// windows (no end, ending at the launch moment or a second after it, 31
// minutes or 23 hours after it, or a second before it), against the
// reference: from readings spread over two days (two of them at a launch
// moment), steps of the system clock forward and back of 1 s to over two
// days, in a zone of one offset and in one that goes forward 02:00 -> 03:00
// and back 03:00 -> 02:00 a day later.
TEST(Wait, StepAgreesWithTheSystemClockForEveryLaunchMinute)
{
    const int64_t DAY_0 = 1774742400, H = 3600, D = 86400; // 2026-03-29 00:00:00 UTC
    const int64_t FORWARD = DAY_0 + H, BACK = DAY_0 + D + H;
    const Zone zones[] = {
        {20700, {{INT64_MAX, 0}, {INT64_MAX, 0}}}, // UTC+05:45
        {3600, {{FORWARD, 7200}, {BACK, 3600}}},   // CET, CEST, CET
    };
    const int64_t steps[] = {1,      59,          61,     H - 1,  H,      H + 1,     2 * H, 12 * H - 60,
                             12 * H - 1, 12 * H, 12 * H + 1, 13 * H, 23 * H, D - 1, D,     25 * H, 49 * H + 7};
    const int64_t ends[] = {-1, 0, 1, 31 * 60, 23 * H, D - 1}; // seconds after the launch moment (-1: none)
    // 10:00:29 local is the launch moment of minute 600 (lead 600 % 31 = 11).
    std::vector<int64_t> starts = {DAY_0 + 10 * H + 29 - 20700, DAY_0 + 10 * H + 29 - 7200, FORWARD - 1, FORWARD,
                                   BACK - 1800, BACK - 1, BACK, BACK + 1800};
    for (int64_t t0 = DAY_0 - 2 * H + 13; t0 < DAY_0 + 2 * D; t0 += 3 * H + 18 * 60 + 11)
        starts.push_back(t0);
    int failures = 0;
    for (const Zone& z : zones)
        for (int64_t t0 : starts)
            for (int64_t step : steps)
                for (int64_t t1 : {t0 + step, t0 - step}) {
                    const LocalTime before = reading(z, t0), now = reading(z, t1);
                    for (int minute = 0; minute < 1440; minute++) {
                        int launch = minute * 60 + 40 - minute % 31;
                        int64_t end = ends[minute % 6], e = (launch + end) % D;
                        LaunchMoment at = {minute / 60,      minute % 60,        launch % 60,
                                           end < 0 ? -1 : (int)(e / 3600), (int)(e / 60 % 60), (int)(e % 60)};
                        WaitStep::Verdict want = reference(z, t0, t1, at);
                        if (timing_wait_step(&before, now, at).verdict != want && ++failures <= 10)
                            ADD_FAILURE() << "offset " << z.offset << ", from " << t0 << " to " << t1 << ", launch "
                                          << at.hour << ":" << at.minute << ":" << at.second << ", end " << at.end_hour
                                          << ":" << at.end_minute << ":" << at.end_second << ": want " << want;
                    }
                }
    EXPECT_EQ(failures, 0);
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
