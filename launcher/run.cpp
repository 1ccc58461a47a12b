// The driver: runs the stages of a run in their fixed order, owns every value
// of the run in its record, and alone decides messages, pauses and exit
// statuses. It knows nothing of the check, which runs it on a table of its
// own and reads the record afterwards.
#include "launcher/run.h"

#include "launcher/version.h"
#include "timing/wait.h"

#include <stdio.h>
#include <string.h>

static const char BANNER[] = "quellatorbin Ver." QUELLATORBIN_VERSION "\n";
static const char SETTINGS_NAME[] = "quellatorbin.ini";
const unsigned FAILURE_PAUSE_MS = 6000;
const unsigned AFTER_STOP_PAUSE_MS = 3000;

// Ends a run that refuses at its step, its message written: a pause, then
// status 1.
static int refuse(const Platform& os, RunRecord* r)
{
    r->refused = true;
    os.sleep_ms(FAILURE_PAUSE_MS);
    return 1;
}

// Finds what in the file and time arguments no run could use, before any
// wait, stop or launch, and writes the refusal: false then. Otherwise the
// name the file is stored under is in r->file_name, and the time argument is
// read into r->time.
static bool arguments_are_usable(int argc, const char* const* argv, const Platform& os, RunRecord* r)
{
    const char* file_arg = argv[r->inv.file_index];
    const char* time_arg = argv[r->inv.time_index];
    const char* problem = capture_name_problem(file_arg, os.is_lead_byte);
    if (problem) {
        say(os.write_out, "Bad file argument '%.*s': %s\n", (int)QUOTE_MAX, file_arg, problem);
        return false;
    }
    if (strlen(file_arg) >= OUTPUT_NAME_CAP) {
        say(os.write_out, "Bad file argument '%.*s...': longer than %u characters\n", (int)QUOTE_MAX, file_arg,
            (unsigned)(OUTPUT_NAME_CAP - 1));
        return false;
    }
    // A name the system cannot store would be known only when the capture
    // program fails to create the file, hours later.
    r->file_stored = os.file_argument(argc, argv, r->inv.file_index, r->file_name, sizeof r->file_name, r->stored_why,
                                      sizeof r->stored_why);
    if (r->file_stored == NOT_STORABLE) {
        say(os.write_out, "Bad file argument '%.*s': %s\n", (int)QUOTE_MAX, file_arg, r->stored_why);
        return false;
    }
    TimeProblem time = timing_read_argument(time_arg, r->margins.lead, r->margins.trail, &r->time);
    if (time == TIME_UNREADABLE)
        say(os.write_out, "Bad time argument '%.*s': expected HH:MM-HH:MM\n", (int)QUOTE_MAX, time_arg);
    else if (time == TIME_NEVER_SHOWN)
        say(os.write_out, "Bad time argument '%.*s': the clock never shows its start\n", (int)QUOTE_MAX, time_arg);
    else if (!r->time.is_window && !capture_part_allowed(PART_TIME, time_arg))
        say(os.write_out, "Bad time argument '%.*s': it holds a blank, a control character or one of \" & | < > ^ %%\n",
            (int)QUOTE_MAX, time_arg);
    else if (time == TIME_TOO_LONG)
        say(os.write_out, "Bad time argument '%.*s': its window text is longer than %u characters\n", (int)QUOTE_MAX, time_arg,
            (unsigned)(WINDOW_TEXT_CAP - 1));
    else
        return true;
    return false;
}

int run_sequence(int argc, const char* const* argv, const Platform& os, RunRecord* r)
{
    *r = RunRecord{};

    // 1. Banner.
    os.write_err(BANNER, sizeof BANNER - 1);

    // 2. Program directory.
    r->step = Step::PROGRAM_DIR;
    if (!os.program_dir(r->program_dir, sizeof r->program_dir)) {
        say(os.write_out, "Cannot find the program directory, or its path is longer than %u characters\n",
            (unsigned)(PROGRAM_PATH_QUERY - 1));
        return refuse(os, r);
    }

    // 3. Arguments.
    r->inv = args_classify(argc, argv);

    // 4. Settings file, applied whole or not at all.
    r->step = Step::SETTINGS;
    static_assert(PROGRAM_DIR_CAP - 1 + sizeof SETTINGS_NAME <= SETTINGS_PATH_CAP, "the settings path always fits");
    (void)snprintf(r->settings_path, sizeof r->settings_path, "%s%s", r->program_dir, SETTINGS_NAME);
    r->settings_read = settings_read(r->settings_path, os, &r->inv.source_id, &r->inv.instance, &r->margins,
                                     &r->settings, r->settings_why, sizeof r->settings_why);
    switch (r->settings_read) {
    case SETTINGS_NOT_OPENED:
        say(os.write_out, "Cannot open '%s'\n", r->settings_path);
        return refuse(os, r);
    case SETTINGS_READ_FAILED:
        say(os.write_out, "Cannot read '%s': %s\n", r->settings_path, r->settings_why);
        return refuse(os, r);
    case SETTINGS_APPLIED:
        break;
    }

    // 5. Instance suffix and image name.
    r->step = Step::INSTANCE;
    capture_suffix(r->inv.instance, r->suffix, sizeof r->suffix);
    capture_image_name(r->suffix, r->image);
    if (!capture_part_allowed(PART_SUFFIX, r->suffix)) {
        say(os.write_out, "Bad instance number %d: its image name %s cannot be used\n", (int)r->inv.instance, r->image);
        return refuse(os, r);
    }

    // 6. Stop request.
    if (r->inv.stop_pos) {
        r->step = Step::STOP;
        capture_end_instance(r->image, os, 0);
        return 1;
    }

    // 7. Required arguments, then the program directory, the file and time
    // arguments themselves.
    r->step = Step::ARGUMENTS;
    if (r->inv.source_id == 0 || r->inv.time_pos == 0 || r->inv.file_pos == 0) {
        say(os.write_out, "Not enough Parameter! (%X,%d,%d)\n", (unsigned)r->inv.source_id, (int)r->inv.time_pos,
            (int)r->inv.file_pos);
        return refuse(os, r);
    }
    if (!capture_part_allowed(PART_PROGRAM_DIR, r->program_dir)) {
        say(os.write_out, "Cannot start the capture program from '%s': the directory holds a control character or "
                "a double quotation mark\n", r->program_dir);
        return refuse(os, r);
    }
    if (!arguments_are_usable(argc, argv, os, r))
        return refuse(os, r);

    // 8. Start wait, for a window. A clock that jumped past the whole window
    // (a suspended machine, a clock set forward) leaves no recording to make.
    r->step = Step::WAIT;
    LocalTime before = {}, after = {};
    if (r->time.is_window && !timing_wait_for_launch(r->time.at, os, &before, &after)) {
        say(os.write_out, "Missed the recording window %s: the clock went from %02d:%02d:%02d to %02d:%02d:%02d\n",
            r->time.text, before.hour, before.minute, before.second, after.hour, after.minute, after.second);
        return refuse(os, r);
    }

    // 9. Pre-launch stop: after an instance was ended, a pause, and a look
    // whether it was started anew.
    r->step = Step::PRE_LAUNCH_STOP;
    capture_end_instance(r->image, os, AFTER_STOP_PAUSE_MS);

    // 10. Output name, reserved until the run ends.
    r->step = Step::OUTPUT_NAME;
    char why[REASON_CAP] = "";
    switch (capture_pick_output_name(r->file_name, r->inv.fixed_name_pos != 0, os, r->output_name,
                                     sizeof r->output_name, &r->passed, why, sizeof why)) {
    case NAME_PICKED:
        break;
    case NAME_NONE_FREE:
        say(os.write_out, "No free output name for '%s': every numbered name within %u characters is taken\n", r->file_name,
            (unsigned)(OUTPUT_NAME_CAP - 1));
        return refuse(os, r);
    case NAME_CANNOT_STORE:
        say(os.write_out, "No free output name for '%s': %s cannot be stored: %s\n", r->file_name, r->output_name, why);
        return refuse(os, r);
    case NAME_CANNOT_TELL:
        say(os.write_out, "Cannot tell whether the output name %s is free: %s\n", r->output_name, why);
        return refuse(os, r);
    }

    // 11. Capture command line: echo it, run it, pass its status on.
    r->step = Step::LAUNCH;
    capture_command_line(r->program_dir, r->image, r->output_name, r->inv.source_id, r->time.text, r->command);
    say(os.write_out, "%s\n", r->command);
    return os.run_command(os, r->command);
}
