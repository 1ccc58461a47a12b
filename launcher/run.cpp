// The driver: runs the stages of a run in their fixed order, owns every value
// of the run, and alone decides messages, pauses and exit statuses.
#include "launcher/run.h"

#include "base/limits.h"
#include "base/text.h"
#include "capture/capture.h"
#include "launcher/args.h"
#include "launcher/check.h"
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
    "settings lines and what each did, the instance and whether it runs, the\n"
    "launch moment, the output name and the capture command line. It waits for,\n"
    "ends and starts nothing; status 0, or 1 with the message a run would write.\n"
    "\n"
    "Exit status: the capture program's own; 1 when the run ends early (missing\n"
    "settings file, missing or bad argument, stop request).\n";

// Ends a failed run: the message is already written; pause (not in the
// check), then status 1.
static int fail(const Hooks& h, bool check)
{
    if (!check)
        h.sleep_ms(FAILURE_PAUSE_MS);
    return 1;
}

static bool is_help(int argc, const char* const* argv)
{
    return argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "/?") == 0);
}

// Checks the file and time arguments before any wait, stop or launch, and
// forms the window text. Writes the refusal and returns false on bad input.
static bool check_arguments(const char* file_arg, const char* time_arg, int lead, int trail,
                            char* window, size_t window_cap, LaunchMoment* at, const Hooks& h)
{
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
    if (timing_is_window(time_arg)) {
        Window w = {};
        if (!timing_read_window(time_arg, &w)) {
            say(h, "Bad time argument '%.*s': expected HH:MM-HH:MM\n", QUOTE, time_arg);
            return false;
        }
        if (!timing_launch_moment(w, lead, trail, at)) {
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
    if (!timing_make_window_text(time_arg, lead, trail, window, window_cap)) {
        say(h, "Bad time argument '%.*s': its window text is longer than %u characters\n", QUOTE, time_arg,
            (unsigned)(window_cap - 1));
        return false;
    }
    return true;
}

// Waits for the launch moment of a window (the check reports when it comes).
// A clock that jumped past the whole window (a suspended machine, a clock
// set forward) leaves no recording to make: false, with the message written.
static bool wait_for_launch(const char* time_arg, const char* window, const LaunchMoment& at, bool check,
                            const Hooks& h)
{
    LocalTime before = {0, 0, 0}, after = {0, 0, 0};
    if (check)
        check_launch(h, window, timing_is_window(time_arg), at);
    else if (timing_is_window(time_arg) && !timing_wait_for_launch(at, h, &before, &after)) {
        say(h, "Missed the recording window %s: the clock went from %02d:%02d:%02d to %02d:%02d:%02d\n", window,
            before.hour, before.minute, before.second, after.hour, after.minute, after.second);
        return false;
    }
    return true;
}

// Chooses the output name into out and holds its reservation; the check
// takes the reservation for an instant only, lets it go, and reports the
// name and why the names before it were passed over. False, with the
// message written, when no name can be had.
static bool pick_output_name(const char* file_arg, bool fixed, bool check, char* out, size_t out_cap,
                             const Hooks& h)
{
    CheckNames names = {};
    check_names_begin(&names, h);
    if (!capture_pick_output_name(file_arg, fixed, h, out, out_cap, check ? &names.trace : nullptr)) {
        say(h, "No free output name for '%s': every numbered name within %u characters is taken\n", file_arg,
            (unsigned)(out_cap - 1));
        return false;
    }
    if (check) {
        h.release_name();
        check_output_name(names, out, fixed);
    }
    return true;
}

static bool is_check(int argc, const char* const* argv)
{
    return argc >= 2 && (strcmp(argv[1], "--check") == 0 || strcmp(argv[1], "/check") == 0);
}

// The run sequence. With check, each step that would wait, end or start
// something reports what it would do instead, and a refusal ends the
// report without the pause: the same code decides everything else.
static int run(int argc, const char* const* argv, bool check, const Hooks& h)
{
    char program_dir[PROGRAM_DIR_CAP];
    char settings_path[SETTINGS_PATH_CAP];
    char window[WINDOW_TEXT_CAP];
    char output_name[OUTPUT_NAME_CAP];
    char command[COMMAND_TEXT_CAP];
    char suffix[SUFFIX_CAP];
    Margins margins = {0, 0};
    LaunchMoment at;

    if (is_help(argc, argv)) {
        h.write_out(HELP, sizeof HELP - 1);
        return 0;
    }

    // 1. Banner.
    h.write_err(BANNER, sizeof BANNER - 1);

    // 2. Program directory.
    if (!h.program_dir(program_dir, sizeof program_dir)) {
        say(h, "Cannot find the program directory, or its path is longer than %u characters\n",
            (unsigned)(PROGRAM_PATH_QUERY - 1));
        return fail(h, check);
    }

    // 3. Arguments.
    Invocation inv = args_classify(argc, argv);
    const int32_t source_given = inv.source_id;

    // 4. Settings file.
    static_assert(PROGRAM_DIR_CAP - 1 + sizeof SETTINGS_NAME <= SETTINGS_PATH_CAP, "the settings path always fits");
    (void)snprintf(settings_path, sizeof settings_path, "%s%s", program_dir, SETTINGS_NAME);
    if (check)
        say(h, "program directory: %s\nsettings file: %s\n", program_dir, settings_path);
    SettingsTrace trace = check_settings_trace(h);
    if (!settings_read(settings_path, &inv.source_id, &inv.instance, &margins, check ? &trace : nullptr)) {
        say(h, "Cannot open '%s'\n", settings_path);
        return fail(h, check);
    }

    // 5. Instance suffix.
    capture_suffix(inv.instance, suffix, sizeof suffix);
    if (!capture_suffix_is_safe(suffix)) {
        say(h, "Bad instance number %d: its image name zarnivek%s.exe cannot be used\n", (int)inv.instance,
            suffix);
        return fail(h, check);
    }
    if (check)
        check_instance(h, inv.instance, suffix, inv.stop_pos != 0);

    // 6. Stop request.
    if (inv.stop_pos) {
        if (check)
            return 0;
        capture_end_instance(suffix, command, sizeof command, h);
        return 1;
    }

    // 7. Required arguments, then the file and time arguments themselves.
    if (inv.source_id == 0 || inv.time_pos == 0 || inv.file_pos == 0) {
        say(h, "Not enough Parameter! (%X,%d,%d)\n", (unsigned)inv.source_id, (int)inv.time_pos,
            (int)inv.file_pos);
        return fail(h, check);
    }
    if (check)
        say(h, inv.source_id == source_given ? "source id: %X\n" : "source id: %X (the argument gave %X)\n",
            (unsigned)inv.source_id, (unsigned)source_given);
    // The capture program's path heads its command line unquoted: a blank
    // would start another program ("/opt/my" for "/opt/my tv/"), and a '"' or
    // a control character would split it otherwise. The characters cmd.exe
    // acts on are safe: such a command text is started without it.
    if (text_holds_any(program_dir, " \"")) {
        say(h, "Cannot start the capture program from '%s': the directory holds a blank, a control character or "
               "a double quotation mark\n", program_dir);
        return fail(h, check);
    }
    const char* file_arg = argv[inv.file_pos];
    const char* time_arg = argv[inv.time_pos];
    if (!check_arguments(file_arg, time_arg, margins.lead, margins.trail, window, sizeof window, &at, h))
        return fail(h, check);

    // 8. Start wait.
    if (!wait_for_launch(time_arg, window, at, check, h))
        return fail(h, check);

    // 9. Pre-launch stop (reported with the instance in the check).
    if (!check && capture_end_instance(suffix, command, sizeof command, h))
        h.sleep_ms(AFTER_STOP_PAUSE_MS);

    // 10. Output name.
    if (!pick_output_name(file_arg, inv.fixed_name_pos != 0, check, output_name, sizeof output_name, h))
        return fail(h, check);

    // 11. Capture command line: echo it, run it, pass its status on. The
    // check's report ends with it.
    if (!capture_command_line(program_dir, suffix, output_name, inv.source_id, window, command,
                              sizeof command)) {
        say(h, "Command line longer than %u characters\n", (unsigned)(COMMAND_TEXT_CAP - 1));
        return fail(h, check);
    }
    say(h, "%s\n", command);
    return check ? 0 : h.run_command(command);
}

int launcher_run(int argc, const char* const* argv, const Hooks& h)
{
    // "--check" first: the report of a run with the arguments that follow.
    // argv + 1 keeps the run's argument positions: its first element stands
    // where the program's name stood.
    if (is_check(argc, argv))
        return run(argc - 1, argv + 1, true, h);
    return run(argc, argv, false, h);
}
