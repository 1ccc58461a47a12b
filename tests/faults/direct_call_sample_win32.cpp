// A Windows platform file as none may be, for the check of the direct call
// check (no_direct_calls_win32.cmake): it must find CloseHandle, a row
// called past the fault table, and GetTickCount, a call with no row, and
// nothing else: not the last error, the formatting, the string functions.
#include <windows.h>

#include <stdio.h>
#include <string.h>

unsigned long direct_call_sample(HANDLE handle, char* text, size_t cap)
{
    (void)CloseHandle(handle);
    int n = snprintf(text, cap, "%lu", (unsigned long)GetLastError());
    return GetTickCount() + (unsigned long)strlen(text) + (unsigned long)n;
}
