// The check mode: what a run with the same arguments, started now, would do,
// written on standard output one finding a line. The run sequence runs as it
// always does, with hooks that pause, end and start nothing, and a report
// that is told of each step.
#pragma once

#include "launcher/report.h"
#include "platform/hooks.h"

/// The hooks and the report a check runs the sequence with.
struct Check {
    Hooks hooks;
    Report report;
};

/// Begins a check over the operations of base (the platform's, or a
/// test's). Its hooks differ from base in that they
/// - pause no one: a pause moves the check's own clock, which began at
///   base's clock and goes by base's time zone, so the wait runs through
///   the clock's readings as a run would meet them and ends at once;
/// - show no progress line;
/// - run no command: each gives 128, as the stop command does when nothing
///   of the name runs;
/// - take an output name's reservation and let it go at once.
Check check_begin(const Hooks& base);

/// The check's exit status, from the run's: 1 when a run would refuse (its
/// message ends the report), else 2 when the report found a problem (a line
/// beginning "problem: "), else 0.
int check_status(int run_status);
