// The driver: runs the stages of a run in their fixed order, owns every value
// of the run, and alone decides messages, pauses and exit statuses.
#include "launcher/run.h"

#include "base/limits.h"
#include "base/text.h"
#include "capture/capture.h"
#include "launcher/args.h"
#include "launcher/check.h"
#include "launcher/report.h"
#include "settings/settings.h"
#include "timing/wait.h"
#include "timing/window.h"

#include <stdio.h>
#include <string.h>

static const char BANNER[] = "quellatorbin Ver.0.05\n";
static const char SETTINGS_NAME[] = "quellatorbin.ini";
const unsigned FAILURE_PAUSE_MS = 6000;
const unsigned AFTER_STOP_PAUSE_MS = 3000;
const int QUOTE = (int)QUOTE_MAX; // a message quotes an argument up to this many characters

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

const Report SILENT_REPORT = {[](Step, const RunValues&) {}, nullptr, nullptr};

// Ends a failed run whose message is written: a pause, then status 1.
static int fail(const Hooks& h)
{
    h.sleep_ms(FAILURE_PAUSE_MS);
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
// wait, stop or launch, and writes the refusal: false then. Otherwise forms
// the window text and the launch moment into v.
static bool arguments_are_usable(RunValues* v, const Hooks& h)
{
    const char* file_arg = v->file_arg;
    const char* time_arg = v->time_arg;
    if (strchr(file_arg, '"')) {
        say(h, "Bad file argument '%.*s': it holds a double quotation mark\n", QUOTE, file_arg);
        return false;
    }
    size_t len = strlen(file_arg);
    if (len >= OUTPUT_NAME_CAP) {
        say(h, "Bad file argument '%.*s...': longer than %u characters\n", QUOTE, file_arg,
            (unsigned)(OUTPUT_NAME_CAP - 1));
        return false;
    }
    // A line break would end the command line early; no file system takes one.
    if (text_holds_any(file_arg, "")) {
        say(h, "Bad file argument '%.*s': it holds a control character\n", QUOTE, file_arg);
        return false;
    }
    // A backslash at the end would escape the closing quotation mark. Only a
    // whole character counts: in code page 932 the second byte of '表' is 5C.
    if (*text_last_char(file_arg, h.is_lead_byte) == '\\') {
        say(h, "Bad file argument '%s': it ends with a backslash\n", file_arg);
        return false;
    }
    // A name the system cannot store (Windows: characters its code page
    // lacks, a device, a stream, a name too long) would be known only when
    // the capture program fails to create the file, hours later.
    char why[REASON_CAP];
    if (h.name_problem(file_arg, why, sizeof why)) {
        say(h, "Bad file argument '%.*s': %s\n", QUOTE, file_arg, why);
        return false;
    }
    if (timing_is_window(time_arg)) {
        Window w = {};
        if (!timing_read_window(time_arg, &w)) {
            say(h, "Bad time argument '%.*s': expected HH:MM-HH:MM\n", QUOTE, time_arg);
            return false;
        }
        if (!timing_launch_moment(w, v->margins.lead, v->margins.trail, &v->at)) {
            say(h, "Bad time argument '%.*s': the clock never shows its start\n", QUOTE, time_arg);
            return false;
        }
    } else if (text_holds_any(time_arg, " \"&|<>^%")) {
        // Without ':' it stands unquoted on the command line: nothing the
        // command interpreter would split or act on may pass.
        say(h, "Bad time argument '%.*s': it holds a blank, a control character or one of \" & | < > ^ %%\n",
            QUOTE, time_arg);
        return false;
    }
    if (!timing_make_window_text(time_arg, v->margins.lead, v->margins.trail, v->window, sizeof v->window)) {
        say(h, "Bad time argument '%.*s': its window text is longer than %u characters\n", QUOTE, time_arg,
            (unsigned)(sizeof v->window - 1));
        return false;
    }
    return true;
}

// The run sequence. The check mode runs it with its own hooks and report
// (launcher/check.h); everything here is decided alike for both.
static int run(int argc, const char* const* argv, const Hooks& h, const Report& report)
{
    RunValues v = {};

    if (is_help(argc, argv)) {
        h.write_out(HELP, sizeof HELP - 1);
        return 0;
    }

    // 1. Banner.
    h.write_err(BANNER, sizeof BANNER - 1);

    // 2. Program directory.
    if (!h.program_dir(v.program_dir, sizeof v.program_dir)) {
        say(h, "Cannot find the program directory, or its path is longer than %u characters\n",
            (unsigned)(PROGRAM_PATH_QUERY - 1));
        return fail(h);
    }

    // 3. Arguments.
    v.inv = args_classify(argc, argv);
    v.source_given = v.inv.source_id;

    // 4. Settings file.
    static_assert(PROGRAM_DIR_CAP - 1 + sizeof SETTINGS_NAME <= SETTINGS_PATH_CAP, "the settings path always fits");
    (void)snprintf(v.settings_path, sizeof v.settings_path, "%s%s", v.program_dir, SETTINGS_NAME);
    report.step(Step::SETTINGS_FILE, v);
    if (!settings_read(v.settings_path, &v.inv.source_id, &v.inv.instance, &v.margins, report.settings)) {
        say(h, "Cannot open '%s'\n", v.settings_path);
        return fail(h);
    }
    report.step(Step::SETTINGS_READ, v);

    // 5. Instance suffix.
    capture_suffix(v.inv.instance, v.suffix, sizeof v.suffix);
    if (!capture_suffix_is_safe(v.suffix)) {
        char image[IMAGE_NAME_CAP];
        capture_image_name(v.suffix, image);
        say(h, "Bad instance number %d: its image name %s cannot be used\n", (int)v.inv.instance, image);
        return fail(h);
    }
    report.step(Step::INSTANCE, v);

    // 6. Stop request.
    if (v.inv.stop_pos) {
        capture_end_instance(v.suffix, v.command, sizeof v.command, h);
        return 1;
    }

    // 7. Required arguments, then the program directory, the file and time
    // arguments themselves.
    if (v.inv.source_id == 0 || v.inv.time_pos == 0 || v.inv.file_pos == 0) {
        say(h, "Not enough Parameter! (%X,%d,%d)\n", (unsigned)v.inv.source_id, (int)v.inv.time_pos,
            (int)v.inv.file_pos);
        return fail(h);
    }
    // The capture program's path heads its command line, in quotation marks
    // where it holds a blank: a '"' or a control character would split it
    // otherwise. The characters cmd.exe acts on are safe: such a command
    // text is started without it.
    if (text_holds_any(v.program_dir, "\"")) {
        say(h, "Cannot start the capture program from '%s': the directory holds a control character or "
               "a double quotation mark\n", v.program_dir);
        return fail(h);
    }
    v.file_arg = argv[v.inv.file_pos];
    v.time_arg = argv[v.inv.time_pos];
    if (!arguments_are_usable(&v, h))
        return fail(h);
    report.step(Step::ARGUMENTS, v);

    // 8. Start wait, for a window. A clock that jumped past the whole window
    // (a suspended machine, a clock set forward) leaves no recording to make.
    LocalTime before = {}, after = {};
    if (timing_is_window(v.time_arg) && !timing_wait_for_launch(v.at, h, &before, &after)) {
        say(h, "Missed the recording window %s: the clock went from %02d:%02d:%02d to %02d:%02d:%02d\n", v.window,
            before.hour, before.minute, before.second, after.hour, after.minute, after.second);
        return fail(h);
    }
    report.step(Step::LAUNCH, v);

    // 9. Pre-launch stop.
    if (capture_end_instance(v.suffix, v.command, sizeof v.command, h))
        h.sleep_ms(AFTER_STOP_PAUSE_MS);

    // 10. Output name, reserved until the run ends.
    if (!capture_pick_output_name(v.file_arg, v.inv.fixed_name_pos != 0, h, v.output_name, sizeof v.output_name,
                                  report.names)) {
        say(h, "No free output name for '%s': every numbered name within %u characters is taken\n", v.file_arg,
            (unsigned)(sizeof v.output_name - 1));
        return fail(h);
    }
    report.step(Step::OUTPUT_NAME, v);

    // 11. Capture command line: echo it, run it, pass its status on.
    if (!capture_command_line(v.program_dir, v.suffix, v.output_name, v.inv.source_id, v.window, v.command,
                              sizeof v.command)) {
        say(h, "Command line longer than %u characters\n", (unsigned)(sizeof v.command - 1));
        return fail(h);
    }
    say(h, "%s\n", v.command);
    return h.run_command(v.command);
}

int launcher_run(int argc, const char* const* argv, const Hooks& h)
{
    // "--check" first: the report of a run with the arguments that follow.
    // argv + 1 keeps the run's argument positions: its first element stands
    // where the program's name stood.
    if (is_check(argc, argv)) {
        const Check check = check_begin(h);
        return check_status(run(argc - 1, argv + 1, check.hooks, check.report));
    }
    return run(argc, argv, h, SILENT_REPORT);
}
