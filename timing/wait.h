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

/// Decides from the reading now and the one before it (nullptr for the first).
/// The two readings' system clocks tell how far the local clock went
/// forward between them, whatever the size of the step: the system clock's
/// step plus the change of the zone's offset. When it went forward as far
/// as the next launch moment after the reading before, or farther (a
/// daylight-saving change, a suspended machine, a clock set forward):
/// - MISSED when the window has an end the clock shows and the clock went
///   on as far as that launch moment's end: the jump carried it past the
///   whole window;
/// - GO otherwise.
/// A system clock set back, or a local clock that went back (the autumn
/// change), crosses nothing; an hour the autumn change shows twice counts
/// at its second showing when a step spans the change (two readings cannot
/// tell whether the first one passed between them). Otherwise, and for the
/// first reading:
/// - GO inside the launch minute at or after its second;
/// - WAIT: a countdown in tenths inside the launch minute, else a plain
///   line a second.
///   launch 20:59:40, now 20:59:10                           ->  countdown 30, pause 100
///   launch 20:59:40, now 20:59:45                           ->  go
///   launch 20:59:40, now 21:00:05 (first)                   ->  plain line, pause 1000 (until tomorrow)
///   launch 20:59:40, 20:58:00 then 21:00:01, 121 s later    ->  go
///   21:00-21:30, 08:00:00 then 21:05:00, 13 h 5 min later   ->  go
///   21:00-21:30, 08:00:00 then 22:00:00, 14 h later         ->  missed
///   21:00-21:30, 08:00:00 then 21:05:00, 37 h 5 min later   ->  missed (never tomorrow's window)
///   3:10-3:40, 02:59:59 CEST then 02:00:00 CET, 1 s later   ->  plain line, pause 1000
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
