// Capture control: the suffix and image name, the rules of the command
// line, the stop, output naming and the capture command line.
#include "capture/capture.h"

#include "base/text.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

namespace {

// The stop message after the image name: a blank, then Shift_JIS text meaning
// "has been ended." and a line feed, written as bytes whatever the console.
const char STOP_MESSAGE_TAIL[] = " \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n";
// The longest image name: "zarnivek", a suffix, ".exe".
const size_t IMAGE_NAME_MAX = IMAGE_NAME_CAP - 1;
static_assert(IMAGE_NAME_MAX + sizeof STOP_MESSAGE_TAIL <= MESSAGE_CAP, "the stop message always fits");
// The longest capture command line: the program's path (the program
// directory and the image name) and the output name, each in quotation
// marks, '@' and eight hex digits, the window text, the blanks between.
static_assert(2 + PROGRAM_DIR_CAP - 1 + IMAGE_NAME_MAX + 3 + OUTPUT_NAME_CAP - 1 + 2 + 8 + 1 + WINDOW_TEXT_CAP - 1 <
                  COMMAND_TEXT_CAP,
              "the capture command line always fits");

// What each part of the capture command line may not hold, and why; the
// reason a message gives where an output name breaks the rule.
const unsigned EVERY_PART = 1u << PART_PROGRAM_DIR | 1u << PART_SUFFIX | 1u << PART_OUTPUT_NAME | 1u << PART_TIME;
const unsigned UNQUOTED = 1u << PART_SUFFIX | 1u << PART_TIME;
struct Forbidden {
    const char* chars; // "" stands for the control characters (below 32, and DEL)
    unsigned parts;
    const char* what;  // for an output name; nullptr where it applies to none
};
const Forbidden FORBIDDEN[] = {
    // A line break ends cmd.exe's command line; no file system takes one.
    {"", EVERY_PART, "it holds a control character"},
    // Ends a quoted part, or begins one.
    {"\"", EVERY_PART, "it holds a double quotation mark"},
    // Splits an unquoted part into two arguments.
    {" ", UNQUOTED, nullptr},
    // cmd.exe acts on them outside quotation marks: it would run '2100&calc'.
    {"&|<>^%", UNQUOTED, nullptr},
    // In an image name, wildcards and separators would name other programs to end.
    {"*?/\\", 1u << PART_SUFFIX, nullptr},
};

// The first rule of FORBIDDEN text breaks as that part, or nullptr.
const Forbidden* broken_rule(CommandPart part, const char* text)
{
    for (const Forbidden& rule : FORBIDDEN) {
        if (!(rule.parts & 1u << part))
            continue;
        for (const char* p = text; *p; p++) {
            unsigned char c = (unsigned char)*p;
            if (rule.chars[0] ? strchr(rule.chars, c) != nullptr : c < ' ' || c == 0x7F)
                return &rule;
        }
    }
    return nullptr;
}

// A query that fails (whether a name is free, what the process table
// shows) is made this often, this long apart, before the run says so.
const int TRIES = 3;
const unsigned TRY_PAUSE_MS = 100;
// Pauses after which an instance that was ended is looked for again.
const int END_ROUNDS = 3;

// Writes candidate number n for file_arg into out (capacity out_cap): the
// file argument itself for 0, else "<stem>(n).<ext>", split at its last
// '.'; where that '.' stands before the last path separator the name has no
// extension and is numbered "<name>(n)". False when it does not fit.
bool candidate(const char* file_arg, int n, const Platform& os, char* out, size_t out_cap)
{
    const char* dot = strrchr(file_arg, '.');
    if (!dot)
        return false;
    // A '.' before the last separator is in a directory's name: the file's
    // own name has no extension then.
    const char* sep = text_last_of(file_arg, os.path_separators, os.is_lead_byte);
    int len = n == 0                ? snprintf(out, out_cap, "%s", file_arg)
              : !sep || dot > sep ? snprintf(out, out_cap, "%.*s(%d).%s", (int)(dot - file_arg), file_arg, n, dot + 1)
                                  : snprintf(out, out_cap, "%s(%d)", file_arg, n);
    return len >= 0 && (size_t)len < out_cap;
}

// Adds a name passed over, and why, to passed's text where it fits.
void pass_over(NamesPassed* passed, const char* name, const char* why)
{
    size_t len = strlen(passed->text);
    int n = snprintf(passed->text + len, sizeof passed->text - len, "%s%s %s", len ? "; " : "", name, why);
    if (passed->listed == passed->count && n >= 0 && (size_t)n < sizeof passed->text - len)
        passed->listed++;
    else
        passed->text[len] = '\0'; // the rest is counted, not listed
    passed->count++;
}

// What became of trying to take one candidate.
enum Take {
    HELD,    // it is free, and this run holds its reservation
    TAKEN,   // it exists, or another run holds it (passed over)
    UNKNOWN, // whether it is free cannot be told (why)
};

// Takes candidate when it is free: found free by the file status query
// before the reservation is tried, and again after it is taken: a name
// whose file appeared in between (its run has just ended, or someone made
// it a link) is let go.
Take take_name(const char* name, const Platform& os, NamesPassed* passed, char* why, size_t why_cap)
{
    FileStatus before = os.file_status(name, why, why_cap);
    Reservation r = before == ENTRY_ABSENT ? os.reserve_name(name, why, why_cap) : RESERVATION_UNAVAILABLE;
    FileStatus after = r == RESERVED ? os.file_status(name, why, why_cap) : before;
    if (r == RESERVED && after == ENTRY_ABSENT)
        return HELD;
    if (r == RESERVED)
        os.release_name();
    if (before == ENTRY_UNKNOWN || after == ENTRY_UNKNOWN || (before == ENTRY_ABSENT && r == RESERVATION_UNAVAILABLE))
        return UNKNOWN;
    pass_over(passed, name, after == ENTRY_PRESENT ? "exists" : "is held by another run now");
    return TAKEN;
}

// Ends the processes of the image name, reading the process table again, a
// pause apart, while it cannot be read: the count ended goes into *ended.
StopResult end_retrying(const char* image, const Platform& os, int* ended, char* why, size_t why_cap)
{
    StopResult result = STOP_CANNOT_TELL;
    *ended = 0;
    for (int tries = 0; result == STOP_CANNOT_TELL && tries < TRIES; tries++) {
        int more = 0;
        if (tries > 0)
            os.sleep_ms(TRY_PAUSE_MS);
        result = os.end_image(image, &more, why, why_cap);
        *ended += more;
    }
    return result;
}

} // namespace

void capture_suffix(int32_t instance, char* out, size_t out_cap)
{
    if (out_cap < 2)
        return;
    out[0] = instance == 0 ? '\0' : (char)(unsigned char)(((uint32_t)'0' + (uint32_t)instance) & 0xFFu);
    out[1] = '\0';
}

void capture_image_name(const char* suffix, char* out)
{
    (void)snprintf(out, IMAGE_NAME_CAP, "zarnivek%s.exe", suffix); // fits: see IMAGE_NAME_CAP
}

bool capture_part_allowed(CommandPart part, const char* text)
{
    return broken_rule(part, text) == nullptr;
}

const char* capture_name_problem(const char* name, LeadByteTest is_lead_byte)
{
    const Forbidden* rule = broken_rule(PART_OUTPUT_NAME, name);
    if (rule)
        return rule->what;
    if (*text_last_char(name, is_lead_byte) == '\\')
        return "it ends with a backslash";
    return nullptr;
}

bool capture_end_instance(const char* image, const Platform& os, unsigned settle_ms)
{
    char why[REASON_CAP] = "";
    int ended = 0;
    bool comes_back = false;
    StopResult result = STOP_NONE;
    // A process of the name found again after the pause was started anew
    // (a supervisor that restarts it): it is ended again, a few times.
    for (int round = 1;; round++) {
        int more = 0;
        result = end_retrying(image, os, &more, why, sizeof why);
        ended += more;
        if (more == 0 || settle_ms == 0)
            break;
        if (round > END_ROUNDS) {
            comes_back = true;
            break;
        }
        os.sleep_ms(settle_ms);
    }
    // One line says how it ended: ended, or one may still run.
    if (comes_back)
        say(os.write_out, "Cannot end %s: it starts again each time it is ended\n", image);
    else if (result == STOP_NOT_ALL_ENDED)
        say(os.write_out, "Cannot end %s: %s\n", image, why);
    else if (result == STOP_CANNOT_TELL)
        say(os.write_out, "Cannot tell whether %s runs: %s\n", image, why);
    else if (ended > 0)
        say(os.write_out, "%s%s", image, STOP_MESSAGE_TAIL);
    return ended > 0;
}

NamePick capture_pick_output_name(const char* file_arg, bool fixed, const Platform& os, char* out, size_t out_cap,
                                  NamesPassed* passed, char* why, size_t why_cap)
{
    *passed = NamesPassed{};
    if (out_cap == 0)
        return NAME_NONE_FREE;
    out[0] = '\0';
    for (int n = 0; n < INT_MAX; n++) {
        if (!candidate(file_arg, n, os, out, out_cap))
            return NAME_NONE_FREE;
        if (fixed)
            return NAME_PICKED; // the file argument, as given
        // The file argument was judged when the run began.
        if (n > 0 && !os.can_store(out, why, why_cap))
            return NAME_CANNOT_STORE;
        for (int tries = 1;; tries++) {
            Take take = take_name(out, os, passed, why, why_cap);
            if (take == HELD)
                return NAME_PICKED;
            if (take == TAKEN)
                break; // the next candidate
            if (tries == TRIES)
                return NAME_CANNOT_TELL;
            os.sleep_ms(TRY_PAUSE_MS);
        }
    }
    return NAME_NONE_FREE;
}

void capture_command_line(const char* program_dir, const char* image, const char* output_name, int32_t source_id,
                          const char* window, char* cmd)
{
    const char* quote = strchr(program_dir, ' ') ? "\"" : "";
    (void)snprintf(cmd, COMMAND_TEXT_CAP, "%s%s%s%s \"%s\" @%X %s", quote, program_dir, image, quote, output_name,
                   (unsigned)source_id, window); // fits: see the capacity above
}
