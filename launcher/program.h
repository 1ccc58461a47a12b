// The program: what its arguments ask for, a run, a check, the help or the
// version.
#pragma once

#include "platform/platform.h"

/// Does what argv[0..argc-1] asks (launcher/args.h, args_mode) through os,
/// and returns the exit status: the help and the version (status 0, on
/// standard output, no banner), the check mode (launcher/check.h), or a run
/// (launcher/run.h).
int launcher_run(int argc, const char* const* argv, const Platform& os);
