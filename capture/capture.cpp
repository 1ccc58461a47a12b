// Capture control: the suffix, the stop command, output naming and the
// capture command line.
#include "capture/capture.h"

#include "base/limits.h"
#include "base/text.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

// The stop message after the image name: a blank, then Shift_JIS text meaning
// "has been ended." and a line feed, written as bytes whatever the console.
static const char STOP_MESSAGE_TAIL[] =
    " \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n";
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
static_assert(sizeof "taskkill /F /IM  1>nul 2>nul" - 1 + IMAGE_NAME_MAX < COMMAND_TEXT_CAP,
              "the stop command always fits");

void capture_suffix(int32_t instance, char* out, size_t out_cap)
{
    if (out_cap < 2)
        return;
    out[0] = instance == 0 ? '\0' : (char)(unsigned char)(((uint32_t)'0' + (uint32_t)instance) & 0xFFu);
    out[1] = '\0';
}

bool capture_suffix_is_safe(const char* suffix)
{
    unsigned char c = (unsigned char)suffix[0];
    if (c == 0)
        return true;
    return c > ' ' && c != 0x7F && !strchr("\"&|<>^%*?/\\", c);
}

void capture_image_name(const char* suffix, char* out)
{
    (void)snprintf(out, IMAGE_NAME_CAP, "zarnivek%s.exe", suffix); // fits: see IMAGE_NAME_CAP
}

bool capture_end_instance(const char* suffix, char* cmd, size_t cmd_cap, const Hooks& h)
{
    char image[IMAGE_NAME_CAP];
    capture_image_name(suffix, image);
    int n = snprintf(cmd, cmd_cap, "taskkill /F /IM %s 1>nul 2>nul", image);
    int status = n >= 0 && (size_t)n < cmd_cap ? h.run_command(cmd) : -1;
    if (status == 0) {
        char message[STOP_MESSAGE_CAP];
        n = snprintf(message, sizeof message, "%s%s", image, STOP_MESSAGE_TAIL);
        if (n > 0 && (size_t)n < sizeof message)
            h.write_out(message, (size_t)n);
        return true;
    }
    if (status == CAPTURE_NONE_RUNS)
        return false;
    char why[REASON_CAP];
    switch (h.image_state(image, why, sizeof why)) {
    case IMAGE_NOT_ENDABLE:
        say(h, "Cannot end %s: %s\n", image, why);
        break;
    case IMAGE_UNKNOWN:
        say(h, "Cannot tell whether %s runs: %s\n", image, why);
        break;
    case IMAGE_RUNNING:
        say(h, "Cannot end %s: the stop command gave status %d\n", image, status);
        break;
    case IMAGE_NOT_RUNNING:
        break;
    }
    return false;
}

// Passes a candidate over: tells the trace why.
static void pass_over(const NameTrace* trace, const char* candidate, NameTaken why)
{
    if (trace)
        trace->taken(trace->context, candidate, why);
}

// True when the candidate is free, and then this run holds its reservation
// (where the platform makes one). It is found free by the file status query
// before the reservation is tried, and again after it is taken: a name whose
// file appeared in between (its run has ended) is let go.
static bool take_name(const char* candidate, const Hooks& h, const NameTrace* trace)
{
    if (h.file_exists(candidate)) {
        pass_over(trace, candidate, NAME_EXISTS);
        return false;
    }
    Reservation r = h.reserve_name(candidate);
    if (r == RESERVATION_TAKEN) {
        pass_over(trace, candidate, NAME_RESERVED);
        return false;
    }
    if (r == RESERVED && h.file_exists(candidate)) {
        h.release_name();
        pass_over(trace, candidate, NAME_EXISTS);
        return false;
    }
    return true;
}

bool capture_pick_output_name(const char* file_arg, bool fixed, const Hooks& h, char* out, size_t out_cap,
                              const NameTrace* trace)
{
    if (out_cap == 0)
        return false;
    out[0] = '\0';
    const char* dot = strrchr(file_arg, '.');
    if (!dot)
        return false;
    int n = snprintf(out, out_cap, "%s", file_arg);
    if (n < 0 || (size_t)n >= out_cap)
        return false;
    if (fixed)
        return true;
    // A '.' before the last separator is in a directory's name: the file's
    // own name has no extension then.
    const char* sep = text_last_of(file_arg, h.path_separators, h.is_lead_byte);
    bool has_extension = !sep || dot > sep;
    int stem_len = (int)(dot - file_arg);
    for (int counter = 1; !take_name(out, h, trace); counter++) {
        if (counter == INT_MAX)
            return false;
        n = has_extension ? snprintf(out, out_cap, "%.*s(%d).%s", stem_len, file_arg, counter, dot + 1)
                          : snprintf(out, out_cap, "%s(%d)", file_arg, counter);
        if (n < 0 || (size_t)n >= out_cap)
            return false;
    }
    return true;
}

bool capture_command_line(const char* program_dir, const char* suffix, const char* output_name,
                          int32_t source_id, const char* window, char* cmd, size_t cmd_cap)
{
    char image[IMAGE_NAME_CAP];
    capture_image_name(suffix, image);
    const char* quote = strchr(program_dir, ' ') ? "\"" : "";
    int n = snprintf(cmd, cmd_cap, "%s%s%s%s \"%s\" @%X %s", quote, program_dir, image, quote, output_name,
                     (unsigned)source_id, window);
    return n >= 0 && (size_t)n < cmd_cap;
}
