// The rows of the Windows fault table: every Win32 and C runtime call
// platform_win32.cpp makes that reaches the system, one a line.
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

#define PLATFORM_CALLS(X)            \
    X(GetModuleFileNameA)            \
    X(GetACP)                        \
    X(IsDBCSLeadByte)                \
    X(WideCharToMultiByte)           \
    X(MultiByteToWideChar)           \
    X(__wgetmainargs)                \
    X(GetFullPathNameW)              \
    X(GetFileAttributesW)            \
    X(CreateFileW)                   \
    X(ReadFile)                      \
    X(GetModuleHandleW)              \
    X(GetProcAddress)                \
    X(GetNativeSystemInfo)           \
    X(GetSystemWow64DirectoryW)      \
    X(GetFileInformationByHandle)    \
    X(CloseHandle)                   \
    X(LCMapStringW)                  \
    X(CreateMutexW)                  \
    X(SetHandleInformation)          \
    X(SetConsoleCtrlHandler)         \
    X(CreateProcessA)                \
    X(WaitForSingleObject)           \
    X(GetExitCodeProcess)            \
    X(system)                        \
    X(CreateToolhelp32Snapshot)      \
    X(Process32First)                \
    X(Process32Next)                 \
    X(GetCurrentProcessId)           \
    X(OpenProcess)                   \
    X(TerminateProcess)              \
    X(Sleep)                         \
    X(GetStdHandle)                  \
    X(WriteFile)                     \
    X(FormatMessageA)                \
    X(getenv)                        \
    X(_isatty)                       \
    X(setvbuf)                       \
    X(fwrite)                        \
    X(_open)                         \
    X(_read)                         \
    X(_close)                        \
    X(_fstat)                        \
    X(time)                          \
    X(localtime)                     \
    X(gmtime)                        \
    X(strftime)
