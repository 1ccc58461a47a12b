// Window forming. The first two input bytes give the lead and trail margins
// (0 to 30, as the settings reader leaves them), the rest up to a NUL byte is
// the time argument.
//
// Properties: the window text always fits its 32 bytes and is NUL-terminated,
// also when it is refused; a text without ':' is handed on unchanged exactly
// when it fits; a formed window reads back as the start (or the minute before
// it), 60 - lead seconds, and the end and trail as given; a launch moment lies
// on the clock (0-23, 0-59, second 40 - lead), one minute before a start that
// is on the clock, and the wait leaves at once at that moment; from a reading
// a second before it, any reading later on the system clock, by a second to
// over a day, leaves the wait, as a missed window exactly when the clock went
// on as far as the window's end.
#include "base/limits.h"
#include "timing/wait.h"
#include "timing/window.h"

#include "check.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

const int DAY = 86400;

// The reading `seconds` after midnight of the first day, in UTC.
LocalTime reading(int seconds)
{
    int of_day = (seconds % DAY + DAY) % DAY;
    LocalTime r = {of_day / 3600, of_day / 60 % 60, of_day % 60};
    r.clock = seconds;
    return r;
}

// The launch moment of a window whose launch minute the clock shows.
void check_launch(const Window& w, const LaunchMoment& at, int lead)
{
    FUZZ_CHECK(at.hour >= 0 && at.hour <= 23 && at.minute >= 0 && at.minute <= 59);
    FUZZ_CHECK(at.second == 40 - lead && at.second >= 10 && at.second <= 40);
    if (w.start_hour >= 0 && w.start_hour <= 23 && w.start_minute >= 0 && w.start_minute <= 59) {
        int start = w.start_hour * 60 + w.start_minute;
        FUZZ_CHECK((at.hour * 60 + at.minute + 1) % 1440 == start);
    }
    LocalTime now = {at.hour, at.minute, at.second};
    WaitStep go = timing_wait_step(nullptr, now, at);
    FUZZ_CHECK(go.verdict == WaitStep::GO);
    now.second = at.second - 1;
    WaitStep last = timing_wait_step(nullptr, now, at);
    FUZZ_CHECK(last.verdict == WaitStep::WAIT && last.pause_ms == 100 && last.countdown == 1);

    int launch = (at.hour * 60 + at.minute) * 60 + at.second;
    LocalTime before = reading(launch - 1);
    // From the launch moment to the window's end: a second to a whole day.
    int end = ((at.end_hour * 60 + at.end_minute) * 60 + at.end_second - launch + DAY - 1) % DAY + 1;
    for (int step : {1, 61, 3600, 43199, 43200, 90000}) {
        WaitStep s = timing_wait_step(&before, reading(launch - 1 + step), at);
        FUZZ_CHECK(s.verdict != WaitStep::WAIT);
        FUZZ_CHECK((s.verdict == WaitStep::MISSED) == (at.end_hour >= 0 && 1 + end <= step));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    int lead = data[0] % 31, trail = data[1] % 31;
    std::string arg((const char*)data + 2, size - 2);
    arg = arg.c_str(); // an argument ends at its first NUL byte

    TimeArgument parsed;
    TimeProblem problem = timing_read_argument(arg.c_str(), lead, trail, &parsed);
    bool ok = problem == TIME_OK;
    const char* out = parsed.text;
    FUZZ_CHECK(memchr(out, '\0', WINDOW_TEXT_CAP) != nullptr);
    FUZZ_CHECK(ok || out[0] == '\0');

    if (!parsed.is_window) {
        FUZZ_CHECK(ok == (arg.size() < WINDOW_TEXT_CAP));
        if (ok)
            FUZZ_CHECK(arg == out);
        return 0;
    }
    if (problem == TIME_UNREADABLE)
        return 0;
    const Window& w = parsed.window;
    if (problem != TIME_NEVER_SHOWN)
        check_launch(w, parsed.at, lead);
    if (!ok)
        return 0;
    int h = 0, m = 0, s = 0, eh = 0, em = 0, t = 0, n = 0;
    FUZZ_CHECK(sscanf(out, "%d:%d:%d-%d:%d:%d%n", &h, &m, &s, &eh, &em, &t, &n) == 6);
    FUZZ_CHECK((size_t)n == strlen(out));
    FUZZ_CHECK(eh == w.end_hour && em == w.end_minute && t == trail);
    if (lead == 0) {
        FUZZ_CHECK(h == w.start_hour && m == w.start_minute && s == 0);
    } else {
        FUZZ_CHECK(s == 60 - lead);
        if (w.start_minute >= 1)
            FUZZ_CHECK(h == w.start_hour && m == w.start_minute - 1);
        else
            FUZZ_CHECK(m == 59 && h == (w.start_hour >= 1 ? w.start_hour - 1 : 23));
    }
    return 0;
}
