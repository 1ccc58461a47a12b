// The fault table: one row for each system call of this platform's files,
// each naming the system's own function until a test swaps it.
#include "platform/calls.h"

#define PLATFORM_CALL_ROW(f, ...) {#f, (SystemCallPtr)&::f, (SystemCallPtr)&::f},
SystemCall platform_calls[PLATFORM_CALL_COUNT] = {PLATFORM_CALLS(PLATFORM_CALL_ROW)};
#undef PLATFORM_CALL_ROW
