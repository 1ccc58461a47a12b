// The check mode: what a run with the same arguments, started now, would
// do, written on standard output one finding a line. The run sequence runs
// as it always does, on a platform table built on the real one that pauses,
// ends and starts nothing; then the check writes its report from the run's
// record.
#pragma once

#include "platform/platform.h"

/// Runs the sequence for argv[0..argc-1] (the check's own switch among them,
/// which the run does not count) as a check over os (the system's own
/// operations, or a test's) and writes the report. The check's table
/// differs from os in that it
/// - pauses no one: a pause moves the check's own clock, which began at
///   os's clock and goes by os's time zone, so the wait runs through the
///   clock's readings as a run would meet them and ends at once;
/// - shows no progress line, and holds back what the run writes until the
///   report is written, which that ends;
/// - ends nothing, and starts nothing (each command gives 0);
/// - takes an output name's reservation and lets it go at once.
/// Returns 1 when a run would refuse (its message ends the report), else 2
/// when the report found a problem (a line beginning "problem: "), else 0.
int check_run(int argc, const char* const* argv, const Platform& os);
