// The start wait. One reading of the clock per pass, one pause per pass: a
// second outside the launch minute, a tenth of a second inside it. The clock
// is read again after every pause, so a pause cut short or run long never
// shifts the launch.
#include "timing/wait.h"

WaitStep timing_wait_step(const LocalTime& now, const LaunchMoment& at)
{
    if (now.hour != at.hour || now.minute != at.minute)
        return WaitStep{1000, 0};
    if (now.second >= at.second)
        return WaitStep{0, 0};
    return WaitStep{100, at.second - now.second};
}

void timing_wait_for_launch(const LaunchMoment& at, const Hooks& h)
{
    for (;;) {
        LocalTime now = {0, 0, 0};
        h.local_now(&now);
        WaitStep step = timing_wait_step(now, at);
        if (step.pause_ms == 0)
            break;
        if (step.countdown > 0)
            say(h, "Please wait...%d   \r", step.countdown);
        else
            say(h, "Please wait...    \r");
        h.sleep_ms(step.pause_ms);
    }
    say(h, "                      \r");
}
