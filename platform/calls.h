// The fault table of this platform: one row for each system call of its
// files (posix_calls.h or win32_calls.h list them, each with how its
// function says that it failed), and SYS(f), the current function of row f,
// called as f itself would be: SYS(open)(path, flags). A test swaps a row
// by its index, platform_calls[CALL_open].current, for a function of the
// same type, and puts platform_calls[CALL_open].original back
// (docs/hardening.md). The table is there in every build: an indirect call
// costs nothing beside a system call.
#pragma once

/// How a row's function says that it failed: what it then returns (one of
/// the first four), and what else holds of it. The words of a row's second
/// column; the program keeps none of them, the fault sweep fails each row so.
enum CallFailure : unsigned {
    NEVER_FAILS = 0,        // every answer it gives is one
    MINUS_ONE = 1,          // -1 of its type (INVALID_HANDLE_VALUE, SIG_ERR, ...), the error set
    ZERO = 2,               // 0, FALSE or a null pointer, the error set
    ERROR_NUMBER = 3,       // the error number itself, errno untouched (the posix_spawn family)
    RETURNS = 3,            // the bits that say which of the four
    LAST_ERROR = 1u << 2,   // the error goes to the thread's last error (Windows), else to errno
    INTERRUPTIBLE = 1u << 3, // a signal can cut it short (EINTR): it is made again
    SHORT_READS = 1u << 4,  // it may read fewer bytes than asked
    LETS_GO = 1u << 5,      // failed, it has let its object go all the same (Linux's close)
    TEXT_ONLY = 1u << 6,    // its failure loses text on the console, nothing more
    CLOCK_READING = 1u << 7, // a reading of the clock: its failure has no system reason to tell
};

#ifdef _WIN32
#include "platform/win32_calls.h"
#else
#include "platform/posix_calls.h"
#endif

/// A row's function, as stored; each row is called through its own type.
typedef void (*SystemCallPtr)(void);

struct SystemCall {
    const char* name;
    SystemCallPtr current;
    SystemCallPtr original;
};

#define PLATFORM_CALL_INDEX(f, ...) CALL_##f,
enum PlatformCall { PLATFORM_CALLS(PLATFORM_CALL_INDEX) PLATFORM_CALL_COUNT };
#undef PLATFORM_CALL_INDEX

extern SystemCall platform_calls[PLATFORM_CALL_COUNT];

#define SYS(f) ((decltype(&::f))platform_calls[CALL_##f].current)
