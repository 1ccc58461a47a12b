// The platform layer on Windows: the console (bytes unchanged on a
// console), the program's directory, the time zone, pauses, and the table
// of every operation. The names a file is stored under, files, the process
// table, starting a command and the reservation of output names have files
// of their own (win32_*.cpp). Every system call goes through the fault
// table (SYS, platform/calls.h).
#include "base/text.h"
#include "platform/calls.h"
#include "platform/clock.h"
#include "platform/win32.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Console text goes out in writes of at most this many bytes.
const size_t CONSOLE_CHUNK_CAP = 4096;

char stdout_buffer[STDOUT_BLOCK];
// Standard output when it is a character device (the console), else null.
HANDLE console_out = nullptr;

// --- Console

void write_out(const char* text, size_t len)
{
    if (!console_out) {
        (void)SYS(fwrite)(text, 1, len, stdout); // a console write has no one to report to
        return;
    }
    // A C runtime may pass console text through its own locale, byte by
    // byte, which turns the stop message's Shift_JIS into other characters.
    // The console gets the bytes as they are, in one write so that no
    // double-byte character is split, with a carriage return before each
    // line feed as in text mode. Messages are far shorter than the buffer.
    static char line[CONSOLE_CHUNK_CAP];
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        if (n + 2 > sizeof line) {
            DWORD done = 0;
            (void)SYS(WriteFile)(console_out, line, (DWORD)n, &done, nullptr);
            n = 0;
        }
        if (text[i] == '\n')
            line[n++] = '\r';
        line[n++] = text[i];
    }
    DWORD done = 0;
    (void)SYS(WriteFile)(console_out, line, (DWORD)n, &done, nullptr);
}

void write_err(const char* text, size_t len)
{
    (void)SYS(fwrite)(text, 1, len, stderr);
}

// --- The program's directory and the rules of its paths

bool program_dir(char* out, size_t out_cap)
{
    char path[PROGRAM_PATH_QUERY];
    if (out_cap < sizeof path)
        return false;
    // A path that fills the buffer was cut: whether a zero follows differs
    // between Windows versions, so the length alone decides.
    DWORD n = SYS(GetModuleFileNameA)(nullptr, path, (DWORD)sizeof path);
    if (n == 0 || n >= sizeof path)
        return false;
    path[n] = '\0';
    // In a double-byte code page (932 and others) the second byte of a
    // character may be 0x5C: each character is stepped over as a whole.
    const char* last = text_last_of(path, "\\", win32_is_lead_byte);
    if (!last)
        return false;
    size_t len = (size_t)(last - path) + 1;
    memcpy(out, path, len);
    out[len] = '\0';
    return true;
}

// --- Clock and pauses

bool zone_problem(char* why, size_t why_cap)
{
    // The C runtime takes TZ, where it is set, over the system's time zone:
    // three letters, then the hours west of UTC, then the letters of a
    // daylight-saving name, to which it applies the United States' dates.
    const char* tz = SYS(getenv)("TZ");
    if (!tz || !*tz)
        return false;
    const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    size_t name = strspn(tz, letters);
    const char* offset = tz + name + (tz[name] == '+' || tz[name] == '-');
    size_t digits = strspn(offset, "0123456789:");
    int hours = (int)strtol(offset, nullptr, 10) * (tz[name] == '-' ? -1 : 1);
    size_t summer = strspn(offset + digits, letters);
    bool utc = name == 3 && (strncmp(tz, "UTC", 3) == 0 || strncmp(tz, "GMT", 3) == 0);
    if (name != 3 || offset[digits + summer] != '\0' || (!digits && (summer || !utc)))
        (void)snprintf(why, why_cap, "TZ=%.*s is no time zone the C runtime can read: set the system's time zone, "
                       "and no TZ", (int)(why_cap / 2), tz);
    else if (summer && (hours < 4 || hours > 10)) // the zones of the United States and Canada
        (void)snprintf(why, why_cap, "TZ=%.*s: the C runtime changes its clock on the United States' "
                       "daylight-saving dates: set the system's time zone, and no TZ", (int)(why_cap / 2), tz);
    else
        return false;
    return true;
}

void sleep_ms(unsigned ms)
{
    SYS(Sleep)(ms);
}

} // namespace

bool clock_broken_down(time_t t, bool local, struct tm* out)
{
    struct tm* tm = local ? SYS(localtime)(&t) : SYS(gmtime)(&t);
    if (tm)
        *out = *tm;
    return tm != nullptr;
}

bool win32_is_lead_byte(unsigned char c)
{
    return SYS(IsDBCSLeadByte)(c) != FALSE;
}

void win32_error_text(DWORD err, char* why, size_t why_cap)
{
    DWORD n = SYS(FormatMessageA)(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, why,
                                  (DWORD)why_cap, nullptr);
    while (n > 0 && (why[n - 1] == '\r' || why[n - 1] == '\n' || why[n - 1] == ' '))
        n--; // the text ends with a line break
    if (n == 0)
        n = (DWORD)snprintf(why, why_cap, "error %lu", (unsigned long)err);
    why[n < why_cap ? n : why_cap - 1] = '\0';
}

const wchar_t* win32_wide(const char* name)
{
    static wchar_t out[WIDE_PATH_CAP];
    return SYS(MultiByteToWideChar)(CP_ACP, 0, name, -1, out, (int)WIDE_PATH_CAP) > 0 ? out : nullptr;
}

void platform_console_init()
{
    // A console (or another character device): every line shows at once.
    // A file or pipe: 512-byte blocks, with a buffer of our own so that the
    // size is exactly that.
    // A stream the C runtime cannot set up so keeps its default buffering.
    if (SYS(_isatty)(1)) {
        (void)SYS(setvbuf)(stdout, nullptr, _IONBF, 0);
        console_out = SYS(GetStdHandle)(STD_OUTPUT_HANDLE);
        if (console_out == INVALID_HANDLE_VALUE)
            console_out = nullptr;
    } else
        (void)SYS(setvbuf)(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    (void)SYS(setvbuf)(stderr, nullptr, _IONBF, 0);
}

const Platform platform_os = {
    program_dir,               // program_dir
    "\\/",                     // path_separators
    win32_is_lead_byte,        // is_lead_byte
    win32_file_argument,       // file_argument
    win32_can_store,           // can_store
    win32_output_dir,          // output_dir
    win32_encode_char,         // encode_char
    win32_open_regular,        // open_regular
    win32_read,                // read
    win32_close,               // close
    win32_file_status,         // file_status
    win32_can_run,             // can_run
    win32_can_create_in,       // can_create_in
    clock_now,                 // clock_now
    clock_local_time,          // local_time
    zone_problem,              // zone_problem
    sleep_ms,                  // sleep_ms
    win32_image_state,         // image_state
    win32_end_image,           // end_image
    win32_run_command,         // run_command
    win32_reserve_name,        // reserve_name
    win32_release_name,        // release_name
    write_out,                 // write_out
    write_out,                 // write_progress
    write_err,                 // write_err
};
