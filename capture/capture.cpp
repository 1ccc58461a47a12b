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
const size_t STOP_MESSAGE_CAP = 64;
static_assert(IMAGE_NAME_MAX + sizeof STOP_MESSAGE_TAIL <= STOP_MESSAGE_CAP, "the stop message always fits");
// The longest capture command line: the program's path (the program
// directory and the image name) and the output name, each in quotation
// marks, '@' and eight hex digits, the window text, the blanks between.
static_assert(2 + PROGRAM_DIR_CAP - 1 + IMAGE_NAME_MAX + 3 + OUTPUT_NAME_CAP - 1 + 2 + 8 + 1 + WINDOW_TEXT_CAP - 1 <
                  COMMAND_TEXT_CAP,
              "the capture command line always fits");

// What each part of the capture command line may not hold, and why.
const unsigned EVERY_PART = 1u << PART_PROGRAM_DIR | 1u << PART_SUFFIX | 1u << PART_OUTPUT_NAME | 1u << PART_TIME;
const unsigned UNQUOTED = 1u << PART_SUFFIX | 1u << PART_TIME;
struct Forbidden {
    const char* chars; // "" stands for the control characters (below 32, and DEL)
    unsigned parts;
    const char* what;
};
const Forbidden FORBIDDEN[] = {
    // A line break ends cmd.exe's command line; no file system takes one.
    {"", EVERY_PART, "it holds a control character"},
    // Ends a quoted part, or begins one.
    {"\"", EVERY_PART, "it holds a double quotation mark"},
    // Splits an unquoted part into two arguments.
    {" ", UNQUOTED, "it holds a blank"},
    // cmd.exe acts on them outside quotation marks: it would run '2100&calc'.
    {"&|<>^%", UNQUOTED, "it holds a character the command interpreter acts on"},
    // In an image name, wildcards and separators would name other programs to end.
    {"*?/\\", 1u << PART_SUFFIX, "it holds a wildcard or a path separator"},
};

// A query that fails (whether a name is free, what the process table
// shows) is made this often, this long apart, before the run says so.
const int TRIES = 3;
const unsigned TRY_PAUSE_MS = 100;

bool holds(const char* text, const Forbidden& rule)
{
    for (const char* p = text; *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (rule.chars[0] ? strchr(rule.chars, c) != nullptr : c < ' ' || c == 0x7F)
            return true;
    }
    return false;
}

void keep_passed(NamesPassed* passed, NamesPassed::Why why)
{
    if ((size_t)passed->count < NAMES_KEPT)
        passed->why[passed->count] = why;
    passed->count++;
}

// Whether candidate is free, and then this run holds its reservation. It is
// found free by the file status query before the reservation is tried, and
// again after it is taken: a name whose file appeared in between (its run
// has ended) is let go. *unknown: whether that could not be told (why).
bool take_name(const char* candidate, const Platform& os, NamesPassed* passed, bool* unknown, char* why,
               size_t why_cap)
{
    why[0] = '\0';
    bool exists = os.file_exists(candidate, why, why_cap);
    Reservation r = RESERVATION_UNAVAILABLE;
    if (!exists && !why[0]) {
        r = os.reserve_name(candidate, why, why_cap);
        if (r == RESERVED)
            exists = os.file_exists(candidate, why, why_cap);
        if (r == RESERVED && (exists || why[0]))
            os.release_name();
    }
    *unknown = why[0] != '\0';
    if (!*unknown && (exists || r == RESERVATION_TAKEN))
        keep_passed(passed, exists ? NamesPassed::EXISTS : NamesPassed::RESERVED);
    return !*unknown && !exists && r != RESERVATION_TAKEN;
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

const char* capture_part_problem(CommandPart part, const char* text, bool (*is_lead_byte)(unsigned char))
{
    for (const Forbidden& rule : FORBIDDEN)
        if ((rule.parts & 1u << part) && holds(text, rule))
            return rule.what;
    if (part == PART_OUTPUT_NAME && *text_last_char(text, is_lead_byte) == '\\')
        return "it ends with a backslash";
    return nullptr;
}

bool capture_end_instance(const char* image, const Platform& os)
{
    int ended = 0;
    char why[REASON_CAP] = "";
    // A table that cannot be read once would leave a stale instance running
    // beside the new one: it is read again.
    StopResult result = STOP_CANNOT_TELL;
    for (int tries = 0; result == STOP_CANNOT_TELL && tries < TRIES; tries++) {
        int more = 0;
        if (tries > 0)
            os.sleep_ms(TRY_PAUSE_MS);
        result = os.end_image(image, &more, why, sizeof why);
        ended += more;
    }
    if (ended > 0) {
        char message[STOP_MESSAGE_CAP];
        int n = snprintf(message, sizeof message, "%s%s", image, STOP_MESSAGE_TAIL); // fits: see its capacity
        os.write_out(message, (size_t)n);
    }
    if (result == STOP_NOT_ALL_ENDED)
        say(os, "Cannot end %s: %s\n", image, why);
    else if (result == STOP_CANNOT_TELL)
        say(os, "Cannot tell whether %s runs: %s\n", image, why);
    return ended > 0;
}

bool capture_candidate(const char* file_arg, int n, const Platform& os, char* out, size_t out_cap)
{
    const char* dot = strrchr(file_arg, '.');
    if (!dot || out_cap == 0)
        return false;
    // A '.' before the last separator is in a directory's name: the file's
    // own name has no extension then.
    const char* sep = text_last_of(file_arg, os.path_separators, os.is_lead_byte);
    int len = n == 0                ? snprintf(out, out_cap, "%s", file_arg)
              : !sep || dot > sep ? snprintf(out, out_cap, "%.*s(%d).%s", (int)(dot - file_arg), file_arg, n, dot + 1)
                                  : snprintf(out, out_cap, "%s(%d)", file_arg, n);
    return len >= 0 && (size_t)len < out_cap;
}

bool capture_output_dir(const char* name, const Platform& os, char* dir)
{
    const char* sep = text_last_of(name, os.path_separators, os.is_lead_byte);
    bool drive = !sep && strchr(os.path_separators, '\\') && name[0] && name[1] == ':';
    size_t len = sep ? (size_t)(sep - name) + 1 : drive ? 2 : 0; // fits: a name fits OUTPUT_NAME_CAP
    memcpy(dir, name, len);
    dir[len] = '\0';
    return drive;
}

int capture_describe_passed(const char* file_arg, const NamesPassed& passed, const Platform& os, char* out,
                            size_t out_cap)
{
    char candidate[OUTPUT_NAME_CAP];
    size_t len = 0;
    int n = 0;
    out[0] = '\0';
    for (; n < passed.count && (size_t)n < NAMES_KEPT && capture_candidate(file_arg, n, os, candidate, sizeof candidate);
         n++) {
        int k = snprintf(out + len, out_cap - len, "%s%s %s", len ? "; " : "", candidate,
                         passed.why[n] == NamesPassed::EXISTS ? "exists" : "is held by another run now");
        if (k < 0 || (size_t)k >= out_cap - len)
            break;
        len += (size_t)k;
    }
    out[len] = '\0';
    return n;
}

NamePick capture_pick_output_name(const char* file_arg, bool fixed, const Platform& os, char* out, size_t out_cap,
                                  NamesPassed* passed, char* why, size_t why_cap)
{
    *passed = NamesPassed{};
    why[0] = '\0';
    if (out_cap > 0)
        out[0] = '\0';
    for (int n = 0; n < INT_MAX; n++) {
        if (!capture_candidate(file_arg, n, os, out, out_cap))
            return NAME_NONE_FREE;
        if (fixed)
            return NAME_PICKED; // the file argument, as given
        char stored[OUTPUT_NAME_CAP];
        if (!os.store_name(out, stored, sizeof stored, why, why_cap))
            return NAME_CANNOT_STORE;
        for (int tries = 1;; tries++) {
            bool unknown = false;
            if (take_name(out, os, passed, &unknown, why, why_cap))
                return NAME_PICKED;
            if (!unknown)
                break; // taken: the next candidate
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
