// The fault table: one row for each system call of this platform's files,
// each naming the system's own function until a test swaps it.
#include "platform/calls.h"

#include <string.h>

#define PLATFORM_CALL_ROW(f) {#f, (SystemCallPtr)&::f, (SystemCallPtr)&::f},
SystemCall platform_calls[PLATFORM_CALL_COUNT] = {PLATFORM_CALLS(PLATFORM_CALL_ROW)};
#undef PLATFORM_CALL_ROW

static SystemCall* find(const char* name)
{
    for (SystemCall& row : platform_calls)
        if (strcmp(row.name, name) == 0)
            return &row;
    return nullptr;
}

const char* faults_row(size_t i)
{
    return i < PLATFORM_CALL_COUNT ? platform_calls[i].name : nullptr;
}

SystemCallPtr faults_original(const char* name)
{
    const SystemCall* row = find(name);
    return row ? row->original : nullptr;
}

bool faults_set(const char* name, SystemCallPtr f)
{
    SystemCall* row = find(name);
    if (row)
        row->current = f ? f : row->original;
    return row != nullptr;
}
