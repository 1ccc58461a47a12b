// The real hooks, and the one formatted writer every stage uses.
#include "platform/hooks.h"

#include <stdarg.h>
#include <stdio.h>

const Hooks platform_hooks = {
    platform_program_dir,   // program_dir
    platform_local_now,     // local_now
    platform_sleep_ms,      // sleep_ms
    platform_run_command,   // run_command
    platform_file_exists,   // file_exists
    platform_reserve_name,  // reserve_name
    platform_release_name,  // release_name
    platform_image_running, // image_running
    platform_write_out,     // write_out
    platform_write_err,     // write_err
    platform_is_lead_byte,  // is_lead_byte
    PLATFORM_SEPARATORS,    // path_separators
};

void say(const Hooks& h, const char* fmt, ...)
{
    char text[MESSAGE_CAP]; // the longest message fits: see base/limits.h
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    size_t len = (size_t)n < sizeof text ? (size_t)n : sizeof text - 1;
    h.write_out(text, len);
}
