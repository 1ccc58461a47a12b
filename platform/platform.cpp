// What every platform shares above its table: the formatted writers every
// stage uses, and one reading of the local clock.
#include "platform/platform.h"

#include <stdarg.h>
#include <stdio.h>

static void write_formatted(void (*write)(const char*, size_t), const char* fmt, va_list ap)
{
    char text[MESSAGE_CAP]; // the longest message fits: see base/limits.h
    int n = vsnprintf(text, sizeof text, fmt, ap);
    if (n < 0)
        return;
    write(text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
}

void say(const Platform& os, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_formatted(os.write_out, fmt, ap);
    va_end(ap);
}

void progress(const Platform& os, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_formatted(os.write_progress, fmt, ap);
    va_end(ap);
}

void say_error(const Platform& os, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_formatted(os.write_err, fmt, ap);
    va_end(ap);
}

bool read_clock(const Platform& os, LocalTime* now)
{
    return os.local_time(os.clock_now(), now);
}
