// The run sequence: one recording, from the banner to the capture program's
// exit status.
#pragma once

#include "platform/hooks.h"

/// Runs the whole sequence for argv[0..argc-1] through the given hooks and
/// returns the exit status: 1 for every early end, 0 after the help text,
/// otherwise the command interpreter's status for the capture command line.
int launcher_run(int argc, const char* const* argv, const Hooks& h);
