// The run sequence: one recording, from the banner to the capture program's
// exit status, and the record it keeps of itself.
#pragma once

#include "base/limits.h"
#include "capture/capture.h"
#include "launcher/args.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "timing/window.h"

/// The steps of a run, in their order.
enum class Step {
    PROGRAM_DIR,     // the program directory is found
    SETTINGS,        // the settings file is read
    INSTANCE,        // the instance suffix and image name are formed
    STOP,            // a stop request ends the instance, and the run
    ARGUMENTS,       // the required arguments are there, and usable
    WAIT,            // the wait for the launch moment
    PRE_LAUNCH_STOP, // a stale instance is ended
    OUTPUT_NAME,     // the output name is chosen
    LAUNCH,          // the capture program runs
};

/// What a run formed, as it went, and where it ended: the check mode writes
/// its report from this when the run has returned.
struct RunRecord {
    Step step = Step::PROGRAM_DIR; // the step it ended in
    bool refused = false;          // it ended there refusing, with a message and status 1
    char program_dir[PROGRAM_DIR_CAP] = {};
    char settings_path[SETTINGS_PATH_CAP] = {};
    Invocation inv = {}; // the arguments, as the settings file left them
    Margins margins = {0, 0};
    SettingsRecord settings = {};
    char suffix[SUFFIX_CAP] = {};
    char image[IMAGE_NAME_CAP] = {};
    SettingsRead settings_read = SETTINGS_APPLIED;
    char settings_why[REASON_CAP] = {}; // why, when it was not applied
    char file_name[OUTPUT_NAME_CAP] = {}; // the file argument, as the system stores it
    StoredName file_stored = STORED_AS_GIVEN;
    char stored_why[REASON_CAP] = {};     // with STORED_WITH_LOOK_ALIKES: what took the place of what
    TimeArgument time;
    NamesPassed passed = {};
    char output_name[OUTPUT_NAME_CAP] = {};
    char command[COMMAND_TEXT_CAP] = {};
};

/// Runs the whole sequence for argv[0..argc-1] through os, filling *r, and
/// returns the exit status: 1 for every early end, otherwise the status of
/// the capture command line.
int run_sequence(int argc, const char* const* argv, const Platform& os, RunRecord* r);
