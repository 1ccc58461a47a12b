// What every platform shares above its table: the one formatted writer, and
// one reading of the local clock.
#include "platform/platform.h"

#include <stdarg.h>
#include <stdio.h>

void say(Writer write, const char* fmt, ...)
{
    char text[MESSAGE_CAP]; // the longest message fits: see base/limits.h
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n >= 0)
        write(text, (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
}

bool read_clock(const Platform& os, LocalTime* now)
{
    return os.local_time(os.clock_now(), now);
}
