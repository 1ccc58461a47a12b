// The clock and the local time, read through the C library on every
// platform (clock.cpp), for the platform files to put in their table.
#pragma once

#include "platform/platform.h"

#include <time.h>

/// The system clock: seconds since 1970-01-01 00:00 UTC; -1 when it cannot be read.
int64_t clock_now();

/// The local time at t, with its zone's name and offset, and t as its clock.
/// False for a time the C library cannot break down (and for -1), which
/// reads as 00:00:00 with no zone, at clock 0.
bool clock_local_time(int64_t t, LocalTime* out);

/// Breaks t down into *out as local time (local) or UTC: false when the C
/// library cannot. Each platform's table file has it (Linux: localtime_r;
/// Windows, which has none: localtime, whose one buffer per thread serves
/// this program's one thread).
bool clock_broken_down(time_t t, bool local, struct tm* out);
