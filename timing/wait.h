// The start wait: holds the launch until the local clock shows the launch moment.
#pragma once

#include "platform/hooks.h"
#include "timing/window.h"

/// What the wait does after one reading of the clock: pause_ms 0 means go now;
/// otherwise write the progress line (countdown > 0: "Please wait...%d   \r",
/// else "Please wait...    \r") and pause that long.
///   launch 20:59:40, now 20:59:10  ->  countdown 30, pause 100
///   launch 20:59:40, now 20:59:45  ->  go
///   launch 20:59:40, now 21:00:05  ->  no countdown, pause 1000 (until tomorrow)
struct WaitStep {
    unsigned pause_ms;
    int countdown;
};
WaitStep timing_wait_step(const LocalTime& now, const LaunchMoment& at);

/// Waits until the clock shows the launch moment's hour and minute at or after
/// its second, writing a progress line before every pause, then blanks the
/// line with 22 blanks and a carriage return.
void timing_wait_for_launch(const LaunchMoment& at, const Hooks& h);
