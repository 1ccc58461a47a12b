// What a run tells of each step of its sequence: a real run tells no one;
// the check mode writes its report from it (launcher/check.cpp).
#pragma once

#include "base/limits.h"
#include "capture/capture.h"
#include "launcher/args.h"
#include "settings/settings.h"
#include "timing/window.h"

#include <stdint.h>

/// Every value of a run, as the driver holds it.
struct RunValues {
    char program_dir[PROGRAM_DIR_CAP] = {};
    char settings_path[SETTINGS_PATH_CAP] = {};
    Invocation inv = {};
    int32_t source_given = 0; // the source id of the arguments, before the settings file
    Margins margins = {0, 0};
    char suffix[SUFFIX_CAP] = {};
    const char* file_arg = nullptr;
    const char* time_arg = nullptr;
    char window[WINDOW_TEXT_CAP] = {};
    LaunchMoment at;
    char output_name[OUTPUT_NAME_CAP] = {};
    char command[COMMAND_TEXT_CAP] = {};
};

/// The steps a run tells of, in the order of the sequence.
enum class Step {
    SETTINGS_FILE, // the settings file is about to be read
    SETTINGS_READ, // it has been read
    INSTANCE,      // the instance suffix is formed; a stop request comes next
    ARGUMENTS,     // the arguments are complete and usable; the wait comes next
    LAUNCH,        // the wait is over
    OUTPUT_NAME,   // the output name is chosen
};

/// Whom a run tells: of each step, of each settings piece, of each output
/// name passed over.
struct Report {
    void (*step)(Step step, const RunValues& v);
    const SettingsTrace* settings;
    const NameTrace* names;
};

/// The report of a real run: it tells no one.
extern const Report SILENT_REPORT;
