// The check mode: what a run with the same arguments, started now, would do,
// reported on standard output, one item a line, instead of done. The run
// sequence calls these where a run would wait, end or start something.
#pragma once

#include "capture/capture.h"
#include "platform/hooks.h"
#include "settings/settings.h"
#include "timing/window.h"

#include <stddef.h>
#include <stdint.h>

/// Writes each piece the settings reader reads and what it did, through h.
SettingsTrace check_settings_trace(const Hooks& h);

/// "instance number <n>: image name zarnivek<s>.exe, ..." and whether one
/// runs now, so that a run (or the stop request) would end it.
void check_instance(const Hooks& h, int32_t instance, const char* suffix, bool stop);

/// The window text, and when the launch moment comes (at is used for a
/// window only).
void check_launch(const Hooks& h, const char* window, bool is_window, const LaunchMoment& at);

/// Collects why candidate output names were passed over, for
/// check_output_name: as many reasons as fit, and a count of the rest.
const size_t CHECK_REASONS_CAP = 400;
struct CheckNames {
    NameTrace trace;
    const Hooks* h;
    char reasons[CHECK_REASONS_CAP];
    size_t len;
    unsigned more; // reasons that did not fit
};
void check_names_begin(CheckNames* names, const Hooks& h);

/// "output name: <name>" and why the names before it were passed over.
void check_output_name(const CheckNames& names, const char* name, bool fixed);
