// The recording window: from the time argument to the window text handed to
// the capture program, and the launch moment 20 seconds before it opens.
#pragma once

#include "base/limits.h"

#include <stddef.h>
#include <stdint.h>

/// Start and end of a "HH:MM-HH:MM" time argument, as read (not range-checked).
struct Window {
    int32_t start_hour, start_minute;
    int32_t end_hour, end_minute;
    bool end_given; // the end came from a part after '-' (not the start again)
};

/// The clock reading at which the capture program is launched, and the end
/// of the window on the clock (its end hour and minute, at the trail margin's
/// second) where the time argument gives an end part that the clock shows
/// (hour 0 to 23, minute 0 to 59); end_hour is -1 otherwise.
struct LaunchMoment {
    int hour = 0, minute = 0, second = 0;
    int end_hour = -1, end_minute = 0, end_second = 0;
};

/// The time argument, read once: its kind, the launch moment of a window,
/// and the window text handed to the capture program.
struct TimeArgument {
    bool is_window = false;          // it holds a ':': a window to wait for
    Window window = {};              // as read, for a window
    LaunchMoment at;                 // for a window
    char text[WINDOW_TEXT_CAP] = {}; // the window text; "" when refused
};

/// Why a time argument cannot be used.
enum TimeProblem {
    TIME_OK,
    TIME_UNREADABLE,  // a window whose start or end cannot be read
    TIME_NEVER_SHOWN, // a window whose launch minute the clock never shows
    TIME_TOO_LONG,    // its window text does not fit WINDOW_TEXT_CAP
};

/// Reads the time argument with the margins L (lead) and T (trail). With a
/// ':' it is a window: its start is read ("%d:%d" from the beginning), and
/// its end ("%d:%d" after the first '-', or the whole text with no '-'); it
/// launches at the launch minute (one minute before the start, over
/// midnight if needed) at second 40 - L, and its end on the clock is its
/// end hour and minute at second T; its text "%02d:%02d:%02d-%02d:%02d:%02d":
///   21:00-21:30  L=0  T=0  ->  21:00:00-21:30:00   launch 20:59:40
///   21:00-21:30  L=10 T=5  ->  20:59:50-21:30:05   launch 20:59:30
///   0:00-0:30    L=30 T=0  ->  23:59:30-00:30:00   launch 23:59:10
///   21:00        L=0  T=0  ->  21:00:00-21:00:00
///   21:00-123:5  L=0  T=0  ->  21:00:00-123:05:00
/// Without a ':' the text is handed on unchanged: 2100 -> 2100. Refused: a
/// start or end that cannot be read ("21:", "21:00-", "21:xx"), a launch
/// minute the clock never shows ("24:30", "9:75"; "24:00" gives 23:59,
/// "9:60" gives 9:59), a text over WINDOW_TEXT_CAP - 1 characters.
TimeProblem timing_read_argument(const char* time_arg, int lead, int trail, TimeArgument* out);
