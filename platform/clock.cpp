// The clock, read through the C library on every platform (so that tools
// which shift the C library's time, such as libfaketime, drive it), and the
// local time with its zone's name and offset.
#include "platform/clock.h"

#include "platform/calls.h"

#include <string.h>

int64_t clock_now()
{
    return (int64_t)SYS(time)(nullptr);
}

bool clock_local_time(int64_t t, LocalTime* out)
{
    struct tm local = {}, utc = {};
    // -1 is what the clock gives when it cannot be read.
    bool ok = t != -1 && clock_broken_down((time_t)t, true, &local) && clock_broken_down((time_t)t, false, &utc);
    if (!ok)
        local = utc = tm{};
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    out->second = local.tm_sec;
    out->day = local.tm_mday;
    out->clock = ok ? t : 0;
    // The offset from the two readings: at most a day apart, either way.
    int days = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1) : local.tm_yday - utc.tm_yday;
    out->utc_offset = ((days * 24 + local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min) * 60 +
                      local.tm_sec - utc.tm_sec;
    if (!ok || SYS(strftime)(out->zone, sizeof out->zone, "%Z", &local) == 0)
        out->zone[0] = '\0';
    return ok;
}
