// The fault table of this platform, for the platform files alone: its rows
// (posix_calls.h or win32_calls.h list them) and SYS(f), the current
// function of row f, called as f itself would be: SYS(open)(path, flags).
#pragma once

#include "platform/faults.h"

#ifdef _WIN32
#include "platform/win32_calls.h"
#else
#include "platform/posix_calls.h"
#endif

struct SystemCall {
    const char* name;
    SystemCallPtr current;
    SystemCallPtr original;
};

#define PLATFORM_CALL_INDEX(f) CALL_##f,
enum PlatformCall { PLATFORM_CALLS(PLATFORM_CALL_INDEX) PLATFORM_CALL_COUNT };
#undef PLATFORM_CALL_INDEX

extern SystemCall platform_calls[PLATFORM_CALL_COUNT];

#define SYS(f) ((decltype(&::f))platform_calls[CALL_##f].current)
