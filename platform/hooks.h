// The operations of a run that tests and the check mode replace: the clock,
// the pause, the command interpreter, the file status query, the reservation
// of output names, the process table, the console, the program directory and
// the rules of paths. Stages that wait, run commands, look at files or write
// take a const Hooks&.
#pragma once

#include "platform/platform.h"

#include <stddef.h>

struct Hooks {
    bool (*program_dir)(char* out, size_t out_cap);
    int64_t (*clock_now)();
    void (*local_time)(int64_t t, LocalTime* out);
    void (*sleep_ms)(unsigned ms);
    int (*run_command)(const char* text);
    bool (*file_exists)(const char* path);
    Reservation (*reserve_name)(const char* name);
    void (*release_name)();
    ImageState (*image_state)(const char* image, char* why, size_t why_cap);
    void (*write_out)(const char* text, size_t len);
    void (*write_progress)(const char* text, size_t len); // the wait's lines, which end in '\r'
    void (*write_err)(const char* text, size_t len);
    bool (*is_lead_byte)(unsigned char c);
    const char* path_separators;
    bool (*name_problem)(const char* name, char* why, size_t why_cap);
};

/// The real platform operations.
extern const Hooks platform_hooks;

/// Formats into a bounded buffer and writes it to standard output through the
/// hooks (say) or as a progress line (progress). Callers bound quoted
/// arguments with a precision ("%.*s", QUOTE_MAX), so nothing is cut in
/// practice; text over MESSAGE_CAP - 1 bytes would be.
void say(const Hooks& h, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void progress(const Hooks& h, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/// Reads the local clock through the hooks.
void read_clock(const Hooks& h, LocalTime* now);
