// The local clock, read through the C library on every platform (so that
// tools which shift the C library's time, such as libfaketime, drive it).
#include "platform/platform.h"

#include <time.h>

void platform_local_now(LocalTime* now)
{
    time_t t = time(nullptr);
    struct tm* tm = localtime(&t);
    now->hour = tm ? tm->tm_hour : 0;
    now->minute = tm ? tm->tm_min : 0;
    now->second = tm ? tm->tm_sec : 0;
}
