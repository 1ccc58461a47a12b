// Window forming: whole-minute windows become second-precise window texts,
// widened by the margins from the settings file.
#include "timing/window.h"

#include "base/numbers.h"

#include <stdio.h>
#include <string.h>

namespace {

// Reads the start ("%d:%d" from the beginning) and the end ("%d:%d" after
// the first '-', or the whole text with no '-'): false when any is missing.
bool read_window(const char* time_arg, Window* w)
{
    const char* dash = strchr(time_arg, '-');
    const char* end = dash ? dash + 1 : time_arg;
    w->end_given = dash != nullptr;
    return scan_pair(end, ':', 10, &w->end_hour, &w->end_minute) &&
           scan_pair(time_arg, ':', 10, &w->start_hour, &w->start_minute);
}

// One minute back from the start; below minute 0 the hour goes back, and
// below hour 0 it becomes 23. Written so that no subtraction can overflow.
void minute_before(const Window& w, int* hour, int* minute)
{
    if (w.start_minute >= 1) {
        *hour = w.start_hour;
        *minute = w.start_minute - 1;
    } else {
        *hour = w.start_hour >= 1 ? w.start_hour - 1 : 23;
        *minute = 59;
    }
}

bool on_the_clock(int32_t hour, int32_t minute)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

// The launch minute at second 40 - lead, and the window's end at second
// trail: false when the clock never shows the launch minute.
bool launch_moment(const Window& w, int lead, int trail, LaunchMoment* at)
{
    int hour = 0, minute = 0;
    minute_before(w, &hour, &minute);
    if (!on_the_clock(hour, minute))
        return false;
    at->hour = hour;
    at->minute = minute;
    at->second = 40 - lead;
    bool end_shown = w.end_given && on_the_clock(w.end_hour, w.end_minute);
    at->end_hour = end_shown ? (int)w.end_hour : -1;
    at->end_minute = end_shown ? (int)w.end_minute : 0;
    at->end_second = end_shown ? trail : 0;
    return true;
}

} // namespace

TimeProblem timing_read_argument(const char* time_arg, int lead, int trail, TimeArgument* out)
{
    *out = TimeArgument{};
    out->is_window = strchr(time_arg, ':') != nullptr;
    int n = 0;
    if (!out->is_window) {
        n = snprintf(out->text, sizeof out->text, "%s", time_arg);
    } else {
        const Window& w = out->window;
        if (!read_window(time_arg, &out->window))
            return TIME_UNREADABLE;
        if (!launch_moment(w, lead, trail, &out->at))
            return TIME_NEVER_SHOWN;
        int hour = w.start_hour, minute = w.start_minute, second = 0;
        if (lead > 0) {
            minute_before(w, &hour, &minute);
            second = 60 - lead;
        }
        n = snprintf(out->text, sizeof out->text, "%02d:%02d:%02d-%02d:%02d:%02d", hour, minute, second,
                     (int)w.end_hour, (int)w.end_minute, trail);
    }
    if (n >= 0 && (size_t)n < sizeof out->text)
        return TIME_OK;
    out->text[0] = '\0'; // a refused window leaves an empty text, never a cut one
    return TIME_TOO_LONG;
}
