// The recording window: from the time argument to the window text handed to
// the capture program, and the launch moment 20 seconds before it opens.
#pragma once

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

/// True when the time argument is a window to convert (it holds a ':');
/// otherwise it is handed on unchanged with no wait.
bool timing_is_window(const char* time_arg);

/// Reads the start ("%d:%d" from the beginning) and the end ("%d:%d" after
/// the first '-', or the whole text with no '-'). False when any is missing:
/// "21:", "21:00-", "21:xx".
bool timing_read_window(const char* time_arg, Window* w);

/// The launch minute (one minute before the start, over midnight if needed)
/// at second 40 - lead, and the window's end at second trail. False when the
/// clock never shows the launch minute ("24:30", "9:75"); "24:00" gives
/// 23:59, "9:60" gives 9:59.
bool timing_launch_moment(const Window& w, int lead, int trail, LaunchMoment* at);

/// Writes the window text for a time argument into out (capacity out_cap).
/// With a ':', "%02d:%02d:%02d-%02d:%02d:%02d", L/T the lead/trail margin:
///   21:00-21:30  L=0  T=0  ->  21:00:00-21:30:00   launch 20:59:40
///   21:00-21:30  L=10 T=5  ->  20:59:50-21:30:05   launch 20:59:30
///   0:00-0:30    L=30 T=0  ->  23:59:30-00:30:00   launch 23:59:10
///   21:00        L=0  T=0  ->  21:00:00-21:00:00
///   21:00-123:5  L=0  T=0  ->  21:00:00-123:05:00
/// Without a ':' the text is copied unchanged: 2100 -> 2100.
/// False when the window cannot be read or the text does not fit; out is
/// NUL-terminated in every case (out_cap > 0).
bool timing_make_window_text(const char* time_arg, int lead, int trail, char* out, size_t out_cap);
