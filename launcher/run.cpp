// The driver: runs the stages of a run in their fixed order, owns every value
// of the run in its record, and alone decides messages, pauses and exit
// statuses.
#include "launcher/run.h"

#include "launcher/check.h"
#include "timing/wait.h"

#include <stdio.h>
#include <string.h>

static const char BANNER[] = "quellatorbin Ver.0.05\n";
static const char SETTINGS_NAME[] = "quellatorbin.ini";
const unsigned FAILURE_PAUSE_MS = 6000;
const unsigned AFTER_STOP_PAUSE_MS = 3000;
const int QUOTE = (int)QUOTE_MAX; // a message quotes an argument up to this many characters
static RunRecord run_record;

static const char HELP[] =
    "usage: quellatorbin FILE @SOURCE TIME [Inumber] [fn]\n"
    "       quellatorbin stop [Inumber]\n"
    "       quellatorbin --check <the arguments of a run>   (or /check)\n"
    "\n"
    "Starts the capture program zarnivek<n>.exe next to this program for one\n"
    "recording, after waiting until 20 s before the window opens. Arguments are\n"
    "recognised by their form, in any order:\n"
    "  FILE      any argument holding a '.': the output file; an existing file is\n"
    "            never overwritten (rec.ts becomes rec(1).ts), unless 'fn' is given\n"
    "  @SOURCE   source id in hex, e.g. @400\n"
    "  TIME      HH:MM-HH:MM (wait, then record that window), or any text that\n"
    "            begins with a digit and holds no ':', handed on unchanged\n"
    "  Inumber   instance number: uses zarnivek<number>.exe\n"
    "  fn        use the output file name unchanged\n"
    "  stop      only end the running capture instance of the chosen number\n"
    "\n"
    "Settings file quellatorbin.ini, next to this program (required), lines:\n"
    "  I<n>         subtract n from the instance number\n"
    "  M<lead>,<trail>  seconds (0 to 30) the window opens early / closes late\n"
    "  @<from>,<to> replace source id <from> by <to> (hex); the first match wins\n"
    "\n"
    "--check shows what a run with those arguments, started now, would do: the\n"
    "settings lines that act, the instance and whether it runs, the capture\n"
    "program, the local time and the launch, the output name and its directory,\n"
    "and the capture command line. It waits for, ends and starts nothing.\n"
    "Status 0; 1 with the message a run would refuse with; 2 when a line says\n"
    "'problem:', something that would keep the recording from being made.\n"
    "\n"
    "Exit status: the capture program's own; 1 when the run ends early (missing\n"
    "settings file, missing or bad argument, stop request).\n";

// Ends a run that refuses at its step, its message written: a pause, then
// status 1.
static int refuse(const Platform& os, RunRecord* r)
{
    r->refused = true;
    os.sleep_ms(FAILURE_PAUSE_MS);
    return 1;
}

static bool is_help(int argc, const char* const* argv)
{
    return argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "/?") == 0);
}

static bool is_check(int argc, const char* const* argv)
{
    return argc >= 2 && (strcmp(argv[1], "--check") == 0 || strcmp(argv[1], "/check") == 0);
}

// Finds what in the file and time arguments no run could use, before any
// wait, stop or launch, and writes the refusal: false then. Otherwise the
// name the file is stored under is in r->file_name, and the time argument is
// read into r->time.
static bool arguments_are_usable(const char* file_arg, const char* time_arg, const Platform& os, RunRecord* r)
{
    const char* problem = capture_part_problem(PART_OUTPUT_NAME, file_arg, os.is_lead_byte);
    if (problem) {
        say(os, "Bad file argument '%.*s': %s\n", QUOTE, file_arg, problem);
        return false;
    }
    if (strlen(file_arg) >= OUTPUT_NAME_CAP) {
        say(os, "Bad file argument '%.*s...': longer than %u characters\n", QUOTE, file_arg,
            (unsigned)(OUTPUT_NAME_CAP - 1));
        return false;
    }
    // A name the system cannot store would be known only when the capture
    // program fails to create the file, hours later.
    if (!os.store_name(file_arg, r->file_name, sizeof r->file_name, r->stored_as, sizeof r->stored_as)) {
        say(os, "Bad file argument '%.*s': %s\n", QUOTE, file_arg, r->stored_as);
        return false;
    }
    TimeProblem time = timing_read_argument(time_arg, r->margins.lead, r->margins.trail, &r->time);
    if (time == TIME_UNREADABLE)
        say(os, "Bad time argument '%.*s': expected HH:MM-HH:MM\n", QUOTE, time_arg);
    else if (time == TIME_NEVER_SHOWN)
        say(os, "Bad time argument '%.*s': the clock never shows its start\n", QUOTE, time_arg);
    else if (!r->time.is_window && capture_part_problem(PART_TIME, time_arg, os.is_lead_byte))
        say(os, "Bad time argument '%.*s': it holds a blank, a control character or one of \" & | < > ^ %%\n",
            QUOTE, time_arg);
    else if (time == TIME_TOO_LONG)
        say(os, "Bad time argument '%.*s': its window text is longer than %u characters\n", QUOTE, time_arg,
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
        say(os, "Cannot find the program directory, or its path is longer than %u characters\n",
            (unsigned)(PROGRAM_PATH_QUERY - 1));
        return refuse(os, r);
    }

    // 3. Arguments.
    r->inv = args_classify(argc, argv);

    // 4. Settings file, applied whole or not at all.
    r->step = Step::SETTINGS;
    static_assert(PROGRAM_DIR_CAP - 1 + sizeof SETTINGS_NAME <= SETTINGS_PATH_CAP, "the settings path always fits");
    (void)snprintf(r->settings_path, sizeof r->settings_path, "%s%s", r->program_dir, SETTINGS_NAME);
    char why[REASON_CAP] = "";
    switch (settings_read(r->settings_path, os, &r->inv.source_id, &r->inv.instance, &r->margins, &r->settings, why,
                          sizeof why)) {
    case SETTINGS_NOT_OPENED:
        say(os, "Cannot open '%s'\n", r->settings_path);
        return refuse(os, r);
    case SETTINGS_READ_FAILED:
        say(os, "Cannot read '%s': %s\n", r->settings_path, why);
        return refuse(os, r);
    case SETTINGS_APPLIED:
        break;
    }

    // 5. Instance suffix and image name.
    r->step = Step::INSTANCE;
    capture_suffix(r->inv.instance, r->suffix, sizeof r->suffix);
    capture_image_name(r->suffix, r->image);
    if (capture_part_problem(PART_SUFFIX, r->suffix, os.is_lead_byte)) {
        say(os, "Bad instance number %d: its image name %s cannot be used\n", (int)r->inv.instance, r->image);
        return refuse(os, r);
    }

    // 6. Stop request.
    if (r->inv.stop_pos) {
        r->step = Step::STOP;
        capture_end_instance(r->image, os);
        return 1;
    }

    // 7. Required arguments, then the program directory, the file and time
    // arguments themselves.
    r->step = Step::ARGUMENTS;
    if (r->inv.source_id == 0 || r->inv.time_pos == 0 || r->inv.file_pos == 0) {
        say(os, "Not enough Parameter! (%X,%d,%d)\n", (unsigned)r->inv.source_id, (int)r->inv.time_pos,
            (int)r->inv.file_pos);
        return refuse(os, r);
    }
    if (capture_part_problem(PART_PROGRAM_DIR, r->program_dir, os.is_lead_byte)) {
        say(os, "Cannot start the capture program from '%s': the directory holds a control character or "
                "a double quotation mark\n", r->program_dir);
        return refuse(os, r);
    }
    if (!arguments_are_usable(argv[r->inv.file_pos], argv[r->inv.time_pos], os, r))
        return refuse(os, r);

    // 8. Start wait, for a window. A clock that jumped past the whole window
    // (a suspended machine, a clock set forward) leaves no recording to make.
    r->step = Step::WAIT;
    LocalTime before = {}, after = {};
    if (r->time.is_window && !timing_wait_for_launch(r->time.at, os, &before, &after)) {
        say(os, "Missed the recording window %s: the clock went from %02d:%02d:%02d to %02d:%02d:%02d\n",
            r->time.text, before.hour, before.minute, before.second, after.hour, after.minute, after.second);
        return refuse(os, r);
    }

    // 9. Pre-launch stop.
    r->step = Step::PRE_LAUNCH_STOP;
    if (capture_end_instance(r->image, os))
        os.sleep_ms(AFTER_STOP_PAUSE_MS);

    // 10. Output name, reserved until the run ends.
    r->step = Step::OUTPUT_NAME;
    switch (capture_pick_output_name(r->file_name, r->inv.fixed_name_pos != 0, os, r->output_name,
                                     sizeof r->output_name, &r->passed, why, sizeof why)) {
    case NAME_PICKED:
        break;
    case NAME_NONE_FREE:
        say(os, "No free output name for '%s': every numbered name within %u characters is taken\n", r->file_name,
            (unsigned)(OUTPUT_NAME_CAP - 1));
        return refuse(os, r);
    case NAME_CANNOT_STORE:
        say(os, "No free output name for '%s': %s cannot be stored: %s\n", r->file_name, r->output_name, why);
        return refuse(os, r);
    case NAME_CANNOT_TELL:
        say(os, "Cannot tell whether the output name %s is free: %s\n", r->output_name, why);
        return refuse(os, r);
    }

    // 11. Capture command line: echo it, run it, pass its status on.
    r->step = Step::LAUNCH;
    capture_command_line(r->program_dir, r->image, r->output_name, r->inv.source_id, r->time.text, r->command);
    say(os, "%s\n", r->command);
    return os.run_command(r->command);
}

int launcher_run(int argc, const char* const* argv, const Platform& os)
{
    if (is_help(argc, argv)) {
        os.write_out(HELP, sizeof HELP - 1);
        return 0;
    }
    // "--check" first: the report of a run with the arguments that follow.
    // argv + 1 keeps the run's argument positions: its first element stands
    // where the program's name stood.
    if (is_check(argc, argv))
        return check_run(argc - 1, argv + 1, os);
    return run_sequence(argc, argv, os, &run_record);
}
