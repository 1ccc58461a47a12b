#include "timing/window.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>

namespace {

struct Case {
    const char* arg;
    int lead, trail;
    const char* text;   // nullptr: refused
    int launch_h, launch_m, launch_s; // -1: no launch moment (no wait or unreachable)
    const char* end = "";               // the end on the clock, "HH:MM:SS", "-" for none; "" unchecked
};

TEST(Window, FormsWindowTextAndLaunchMoment)
{
    const Case cases[] = {
        {"21:00-21:30", 0, 0, "21:00:00-21:30:00", 20, 59, 40},
        {"21:00-21:30", 10, 5, "20:59:50-21:30:05", 20, 59, 30, "21:30:05"},
        {"0:00-0:30", 30, 0, "23:59:30-00:30:00", 23, 59, 10},
        {"21:00", 0, 0, "21:00:00-21:00:00", 20, 59, 40, "-"}, // no end part: no end to miss
        {"2100", 0, 0, "2100", -1, -1, -1},
        {"2100", 30, 30, "2100", -1, -1, -1},
        {"21:00-123:5", 0, 0, "21:00:00-123:05:00", 20, 59, 40, "-"},
        {"21:30-22:00", 1, 30, "21:29:59-22:00:30", 21, 29, 39},
        {"7:5-8:0", 0, 0, "07:05:00-08:00:00", 7, 4, 40},
        {"24:00-1:00", 0, 0, "24:00:00-01:00:00", 23, 59, 40},
        {"9:60-10:00", 0, 0, "09:60:00-10:00:00", 9, 59, 40},
        // The end is written as read, never carried.
        {"23:50-23:75", 0, 20, "23:50:00-23:75:20", 23, 49, 40, "-"},
        {"0:00-0:30", 30, 30, "23:59:30-00:30:30", 23, 59, 10, "00:30:30"},
        {"21: 00-21: 30", 0, 0, "21:00:00-21:30:00", 20, 59, 40},
        // Unreadable start or end.
        {"21:", 0, 0, nullptr, -1, -1, -1},
        {"21:00-", 0, 0, nullptr, -1, -1, -1},
        {"21:xx", 0, 0, nullptr, -1, -1, -1},
        {"21:00-22", 0, 0, nullptr, -1, -1, -1},
        // Too long for 31 characters.
        {"1234567890:1234567890-1:1", 0, 0, nullptr, 0, 0, 0},
        {"12345678901234567890123456789012", 0, 0, nullptr, -1, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.arg) + " L=" + std::to_string(c.lead) + " T=" + std::to_string(c.trail));
        TimeArgument t;
        TimeProblem problem = timing_read_argument(c.arg, c.lead, c.trail, &t);
        if (!c.text) {
            EXPECT_NE(problem, TIME_OK);
            EXPECT_STREQ(t.text, "");
            continue;
        }
        ASSERT_EQ(problem, TIME_OK);
        EXPECT_STREQ(t.text, c.text);
        EXPECT_EQ(t.is_window, c.launch_h >= 0);
        if (c.launch_h < 0)
            continue;
        const LaunchMoment& at = t.at;
        EXPECT_EQ(at.hour, c.launch_h);
        EXPECT_EQ(at.minute, c.launch_m);
        EXPECT_EQ(at.second, c.launch_s);
        if (c.end[0]) {
            char end[40] = "-";
            if (at.end_hour >= 0)
                snprintf(end, sizeof end, "%02d:%02d:%02d", at.end_hour, at.end_minute, at.end_second);
            EXPECT_STREQ(end, c.end);
        }
    }
}

TEST(Window, StartsTheClockNeverShowsAreFound)
{
    const struct {
        const char* arg;
        bool reachable;
    } cases[] = {
        {"24:00", true},  {"9:60", true},   {"0:00", true},   {"23:59", true},
        {"24:30", false}, {"9:75", false},  {"25:00", false}, {"0:61", false},
        {"99:00", false}, {"4294967295:30", false}, // reads as -1:30
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        TimeArgument t;
        EXPECT_EQ(timing_read_argument(c.arg, 0, 0, &t), c.reachable ? TIME_OK : TIME_NEVER_SHOWN);
    }
}

} // namespace
