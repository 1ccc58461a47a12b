// The start wait: holds the launch until the local clock shows the launch moment.
#pragma once

#include "platform/platform.h"
#include "timing/window.h"

/// What the wait does after one reading of the clock: go, give up (the clock
/// jumped past the whole window), or write the progress line (countdown > 0:
/// "Please wait...%d   \r", else "Please wait...    \r") and pause pause_ms.
struct WaitStep {
    enum Verdict { WAIT, GO, MISSED } verdict;
    unsigned pause_ms;
    int countdown;
};

/// Decides from the reading now and the one before it (nullptr for the first):
/// - GO inside the launch minute at or after its second;
/// - GO when the launch moment lies after the reading before and at or before
///   now, as times of day (across midnight too), with now less than 12 hours
///   ahead: the clock jumped over it (a daylight-saving change, a suspended
///   machine, a clock set forward). A reading 12 hours or more ahead is a
///   step backwards and crosses nothing;
/// - MISSED when the window's end lies between the same two readings too,
///   after the launch moment: the jump carried the clock past the window;
/// - otherwise WAIT: a countdown in tenths inside the launch minute, else a
///   plain line a second.
///   launch 20:59:40, now 20:59:10              ->  countdown 30, pause 100
///   launch 20:59:40, now 20:59:45              ->  go
///   launch 20:59:40, now 21:00:05 (first)      ->  plain line, pause 1000 (until tomorrow)
///   launch 20:59:40, 20:58:00 then 21:00:01    ->  go
WaitStep timing_wait_step(const LocalTime* before, const LocalTime& now, const LaunchMoment& at);

/// Waits as timing_wait_step decides, reading the clock again after every
/// pause, writing a progress line before every pause, and blanks the line
/// with 22 blanks and a carriage return at the end. A reading that fails
/// counts as none: the pause is made again; after an hour of pauses with
/// no reading the launch comes at once (so no wait, nor a check's, goes on
/// for ever). Returns true at the launch
/// moment; false when the clock jumped past the whole window, with the two
/// readings in *before and *after.
bool timing_wait_for_launch(const LaunchMoment& at, const Platform& os, LocalTime* before, LocalTime* after);

/// True when now lies inside the window (across midnight too) but past its
/// launch minute: a run started then does not record it, but waits for the
/// launch moment to come round again. A window without an end on the clock
/// is never open.
bool timing_window_is_open(const LaunchMoment& at, const LocalTime& now);
