// The start wait. One reading of the clock per pass, one pause per pass: a
// second outside the launch minute, a tenth of a second inside it. The clock
// is read again after every pause, so a pause cut short or run long never
// shifts the launch, and two readings in a row tell when the clock jumped.
#include "timing/wait.h"

const int DAY = 24 * 3600;
const unsigned long UNREAD_MAX_MS = 3600 * 1000UL; // the wait's pauses with no reading of the clock
const int HALF_DAY = DAY / 2;

// A time of day in seconds since midnight, and how far `to` lies after
// `from` going forward on the clock (0 to a day less a second).
static int seconds_of_day(int hour, int minute, int second)
{
    return (hour * 60 + minute) * 60 + second;
}

static int seconds_ahead(int from, int to)
{
    return ((to - from) % DAY + DAY) % DAY;
}

WaitStep timing_wait_step(const LocalTime* before, const LocalTime& now, const LaunchMoment& at)
{
    if (before) {
        int from = seconds_of_day(before->hour, before->minute, before->second);
        int step = seconds_ahead(from, seconds_of_day(now.hour, now.minute, now.second));
        int launch = seconds_ahead(from, seconds_of_day(at.hour, at.minute, at.second));
        if (step < HALF_DAY && launch > 0 && launch <= step) {
            int end = at.end_hour < 0
                          ? 0
                          : seconds_ahead(from, seconds_of_day(at.end_hour, at.end_minute, at.end_second));
            return WaitStep{end > launch && end <= step ? WaitStep::MISSED : WaitStep::GO, 0, 0};
        }
    }
    if (now.hour != at.hour || now.minute != at.minute)
        return WaitStep{WaitStep::WAIT, 1000, 0};
    if (now.second >= at.second)
        return WaitStep{WaitStep::GO, 0, 0};
    return WaitStep{WaitStep::WAIT, 100, at.second - now.second};
}

bool timing_wait_for_launch(const LaunchMoment& at, const Platform& os, LocalTime* before, LocalTime* after)
{
    LocalTime now = {};
    bool read = read_clock(os, &now);
    unsigned long unread_ms = read ? 0 : 1000;
    WaitStep step = read ? timing_wait_step(nullptr, now, at) : WaitStep{WaitStep::WAIT, 1000, 0};
    while (step.verdict == WaitStep::WAIT) {
        if (step.countdown > 0)
            say(os.write_progress, "Please wait...%d   \r", step.countdown);
        else
            say(os.write_progress, "Please wait...    \r");
        os.sleep_ms(step.pause_ms);
        LocalTime next = {};
        if (!read_clock(os, &next)) {
            // No reading: the same step again; a clock that cannot be read for
            // an hour of pauses can time nothing, and the capture program is
            // started rather than never.
            unread_ms += step.pause_ms;
            if (unread_ms >= UNREAD_MAX_MS)
                step.verdict = WaitStep::GO;
            continue;
        }
        unread_ms = 0;
        *before = now;
        now = next;
        step = timing_wait_step(read ? before : nullptr, now, at);
        read = true;
    }
    *after = now;
    say(os.write_progress, "                      \r");
    return step.verdict == WaitStep::GO;
}

bool timing_window_is_open(const LaunchMoment& at, const LocalTime& now)
{
    // From the launch moment: the rest of the launch minute launches at
    // once; from its end to the window's end the window is open, and a run
    // waits for the launch moment to come round again.
    int launch = seconds_of_day(at.hour, at.minute, at.second);
    int end = seconds_ahead(launch, seconds_of_day(at.end_hour, at.end_minute, at.end_second));
    int clock = seconds_ahead(launch, seconds_of_day(now.hour, now.minute, now.second));
    return at.end_hour >= 0 && clock >= 60 - at.second && clock < end;
}
