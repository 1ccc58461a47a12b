// The rows of the Windows fault table: every Win32 and C runtime call the
// Windows platform files make that reaches the system, one a line, each with
// how it says that it failed (CallFailure, platform/calls.h) and the errors
// it is failed with: for LAST_ERROR through SetLastError, else in errno.
// IsDBCSLeadByte answers yes or no, getenv set or not: both are answers.
// CreateMutexW's ERROR_INVALID_HANDLE: an object of another kind has the
// name; CreateToolhelp32Snapshot's ERROR_BAD_LENGTH: the table changed while
// the snapshot was taken.
#pragma once

#include <windows.h>

#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

// The C runtime's argument vector in UTF-16, split from the command line
// by the same rules as the one main receives (msvcrt.dll).
extern "C" int __cdecl __wgetmainargs( // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): its name
    int* argc, wchar_t*** argv, wchar_t*** env, int glob, int* new_mode);

#define PLATFORM_CALLS(X)                                                                                         \
    X(GetModuleFileNameA, ZERO | LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED)                        \
    X(GetACP, NEVER_FAILS)                                                                                        \
    X(IsDBCSLeadByte, NEVER_FAILS)                                                                                \
    X(WideCharToMultiByte, ZERO | LAST_ERROR, ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION)            \
    X(MultiByteToWideChar, ZERO | LAST_ERROR, ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION)            \
    X(__wgetmainargs, MINUS_ONE, ENOMEM)                                                                          \
    X(GetFullPathNameW, ZERO | LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, ERROR_FILENAME_EXCED_RANGE)                   \
    X(GetFileAttributesW, MINUS_ONE | LAST_ERROR, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)                   \
    X(CreateFileW, MINUS_ONE | LAST_ERROR, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_ENOUGH_MEMORY) \
    X(ReadFile, ZERO | LAST_ERROR, ERROR_LOCK_VIOLATION, ERROR_NOT_ENOUGH_MEMORY)                                 \
    X(GetModuleHandleW, ZERO | LAST_ERROR, ERROR_MOD_NOT_FOUND)                                                   \
    X(GetProcAddress, ZERO | LAST_ERROR, ERROR_PROC_NOT_FOUND)                                                    \
    X(GetNativeSystemInfo, NEVER_FAILS)                                                                           \
    X(GetSystemWow64DirectoryW, ZERO | LAST_ERROR, ERROR_CALL_NOT_IMPLEMENTED, ERROR_NOT_ENOUGH_MEMORY)           \
    X(GetFileInformationByHandle, ZERO | LAST_ERROR, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED)                   \
    X(CloseHandle, ZERO | LAST_ERROR, ERROR_INVALID_HANDLE)                                                       \
    X(LCMapStringW, ZERO | LAST_ERROR, ERROR_INSUFFICIENT_BUFFER, ERROR_NOT_ENOUGH_MEMORY)                        \
    X(CreateMutexW, ZERO | LAST_ERROR, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_HANDLE)        \
    X(SetHandleInformation, ZERO | LAST_ERROR, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED)                         \
    X(SetConsoleCtrlHandler, ZERO | LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY)                                          \
    X(CreateProcessA, ZERO | LAST_ERROR, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY)                            \
    X(WaitForSingleObject, MINUS_ONE | LAST_ERROR, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED)                     \
    X(GetExitCodeProcess, ZERO | LAST_ERROR, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED)                           \
    X(system, MINUS_ONE, ENOMEM, ENOENT)                                                                          \
    X(CreateToolhelp32Snapshot, MINUS_ONE | LAST_ERROR, ERROR_NOT_ENOUGH_MEMORY, ERROR_BAD_LENGTH)                \
    X(Process32First, ZERO | LAST_ERROR, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED)                               \
    X(Process32Next, ZERO | LAST_ERROR, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED)                                \
    X(GetCurrentProcessId, NEVER_FAILS)                                                                           \
    X(OpenProcess, ZERO | LAST_ERROR, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY)                               \
    X(TerminateProcess, ZERO | LAST_ERROR, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE)                             \
    X(Sleep, NEVER_FAILS)                                                                                         \
    X(GetStdHandle, MINUS_ONE | LAST_ERROR, ERROR_INVALID_HANDLE)                                                 \
    X(WriteFile, ZERO | LAST_ERROR, ERROR_NO_DATA, ERROR_NOT_ENOUGH_MEMORY)                                       \
    X(FormatMessageA, ZERO | LAST_ERROR, ERROR_MR_MID_NOT_FOUND)                                                  \
    X(getenv, NEVER_FAILS)                                                                                        \
    X(_isatty, ZERO, EBADF)                                                                                       \
    X(setvbuf, MINUS_ONE, EINVAL)                                                                                 \
    X(fwrite, ZERO | TEXT_ONLY, EIO, ENOSPC)                                                                      \
    X(_open, MINUS_ONE, EMFILE, EACCES)                                                                           \
    X(_read, MINUS_ONE, EIO, EINTR)                                                                               \
    X(_close, MINUS_ONE, EIO)                                                                                     \
    X(_fstat, MINUS_ONE, EBADF)                                                                                   \
    X(time, MINUS_ONE | CLOCK_READING, EINVAL)                                                                    \
    X(localtime, ZERO | CLOCK_READING, EINVAL)                                                                    \
    X(gmtime, ZERO | CLOCK_READING, EINVAL)                                                                       \
    X(strftime, ZERO | TEXT_ONLY, ERANGE)
