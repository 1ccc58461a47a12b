// The start wait. One reading of the clock per pass, one pause per pass: a
// second outside the launch minute, a tenth of a second inside it. The clock
// is read again after every pause, so a pause cut short or run long never
// shifts the launch, and two readings in a row tell when the clock jumped.
#include "timing/wait.h"

const int DAY = 24 * 3600;
const unsigned long UNREAD_MAX_MS = 3600 * 1000UL; // the wait's pauses with no reading of the clock

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

// The same, where `to` is the next time the clock shows it after `from`:
// 1 second to a whole day (the same time of day is a day ahead).
static int seconds_until(int from, int to)
{
    int ahead = seconds_ahead(from, to);
    return ahead ? ahead : DAY;
}

WaitStep timing_wait_step(const LocalTime* before, const LocalTime& now, const LaunchMoment& at)
{
    // How far the local clock went forward between the two readings: the
    // system clock's step and the change of the zone's offset. A system
    // clock set back crosses nothing, nor does a local clock that went back
    // with the offset (the autumn change: 03:00 CEST, then 02:00 CET).
    int64_t wall = 0;
    if (before && now.clock >= before->clock)
        wall = now.clock - before->clock + now.utc_offset - before->utc_offset;
    if (wall > 0) {
        int from = seconds_of_day(before->hour, before->minute, before->second);
        int launch = seconds_until(from, seconds_of_day(at.hour, at.minute, at.second));
        if (launch <= wall) {
            // The first launch moment crossed; its window passed too when
            // the clock went on past its end.
            int end = seconds_until(seconds_of_day(at.hour, at.minute, at.second),
                                    seconds_of_day(at.end_hour, at.end_minute, at.end_second));
            bool missed = at.end_hour >= 0 && launch + end <= wall;
            return WaitStep{missed ? WaitStep::MISSED : WaitStep::GO, 0, 0};
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
