// The real hooks, and the formatted writers every stage uses.
#include "platform/hooks.h"

#include <stdarg.h>
#include <stdio.h>

const Hooks platform_hooks = {
    platform_program_dir,  // program_dir
    platform_clock_now,    // clock_now
    platform_local_time,   // local_time
    platform_sleep_ms,     // sleep_ms
    platform_run_command,  // run_command
    platform_file_exists,  // file_exists
    platform_reserve_name, // reserve_name
    platform_release_name, // release_name
    platform_image_state,  // image_state
    platform_write_out,    // write_out
    platform_write_out,    // write_progress
    platform_write_err,    // write_err
    platform_is_lead_byte, // is_lead_byte
    PLATFORM_SEPARATORS,   // path_separators
    platform_name_problem, // name_problem
};

static void write_formatted(void (*write)(const char*, size_t), const char* fmt, va_list ap)
{
    char text[MESSAGE_CAP]; // the longest message fits: see base/limits.h
    int n = vsnprintf(text, sizeof text, fmt, ap);
    if (n < 0)
        return;
    write(text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
}

void say(const Hooks& h, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_formatted(h.write_out, fmt, ap);
    va_end(ap);
}

void progress(const Hooks& h, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_formatted(h.write_progress, fmt, ap);
    va_end(ap);
}

void read_clock(const Hooks& h, LocalTime* now)
{
    h.local_time(h.clock_now(), now);
}
