// The Windows part of the fault sweep (fault_sweep.h): the hooks of the rows
// of platform/win32_calls.h, the test's processes (copies of the stand-in it
// starts) and the handles a failed close leaves open. Its CTest test,
// fault_sweep_win32, runs under Wine.
#include "fault_sweep.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A pause moves the sweep's clock.
void WINAPI hook_sleep(DWORD ms)
{
    (void)sweep_strikes(CALL_Sleep);
    sweep_pause(ms);
}

int __cdecl hook_open(const char* path, int flags, ...)
{
    int mode = 0;
    if (flags & _O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    if (const SweepError* e = sweep_strikes(CALL__open))
        return sweep_failed<int>(CALL__open, *e);
    return SWEEP_ORIGINAL(_open)(path, flags, mode);
}

// A handle or descriptor whose closing failed stays open: the test closes
// it after the run, as the end of the run's process would.
HANDLE left_handles[32];
int left_fds[32];
size_t left_handle_count = 0, left_fd_count = 0;

BOOL WINAPI hook_close_handle(HANDLE h)
{
    if (left_handle_count == std::size(left_handles))
        sweep_give_up("too many handles left open");
    if (const SweepError* e = sweep_strikes(CALL_CloseHandle)) {
        left_handles[left_handle_count++] = h;
        return sweep_failed<BOOL>(CALL_CloseHandle, *e);
    }
    return SWEEP_ORIGINAL(CloseHandle)(h);
}

int __cdecl hook_close(int fd)
{
    if (left_fd_count == std::size(left_fds))
        sweep_give_up("too many descriptors left open");
    if (const SweepError* e = sweep_strikes(CALL__close)) {
        left_fds[left_fd_count++] = fd;
        return sweep_failed<int>(CALL__close, *e);
    }
    return SWEEP_ORIGINAL(_close)(fd);
}

// The run's arguments in UTF-16, as the C runtime gives a program those of
// its own command line: the sweep's runs are given theirs by the sweep.
std::vector<std::wstring> wide_args;
std::vector<wchar_t*> wide_argv;

int hook_wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int glob, int* new_mode)
{
    if (const SweepError* e = sweep_strikes(CALL___wgetmainargs))
        return sweep_failed<int>(CALL___wgetmainargs, *e);
    int status = SWEEP_ORIGINAL(__wgetmainargs)(argc, argv, env, glob, new_mode);
    *argc = (int)wide_args.size();
    *argv = wide_argv.data();
    return status;
}

BOOL WINAPI ends_nothing(HANDLE, UINT)
{
    return TRUE;
}

SWEEP_SAME_TYPE(hook_sleep, Sleep);
SWEEP_SAME_TYPE(hook_wgetmainargs, __wgetmainargs);
SWEEP_SAME_TYPE(hook_open, _open);
SWEEP_SAME_TYPE(hook_close_handle, CloseHandle);
SWEEP_SAME_TYPE(hook_close, _close);
SWEEP_SAME_TYPE(ends_nothing, TerminateProcess);

int saved_out = -1, saved_err = -1;
LPTOP_LEVEL_EXCEPTION_FILTER filter_before = nullptr;
// When the alarm goes off, on GetTickCount's clock, while it is armed.
volatile LONG alarm_at = 0, alarm_armed = 0;

LONG WINAPI crashed(EXCEPTION_POINTERS*)
{
    sweep_give_up("crashed");
}

DWORD WINAPI watch(void*)
{
    for (;;) {
        Sleep(100);
        if (alarm_armed && (LONG)(GetTickCount() - (DWORD)alarm_at) > 0)
            sweep_give_up("this case did not end");
    }
}

// The stand-in under Wine: Wine's drive Z: is the Linux root.
std::string standin()
{
    std::string p = QB_STANDIN;
    if (p[0] == '/')
        p = "Z:" + p;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

} // namespace

const char* const SWEEP_UNREACHED[] = {
    "GetModuleFileNameA", // the program directory is the sweep's
    // The capture program is one of the test's own machine.
    "GetModuleHandleW", "GetProcAddress", "GetNativeSystemInfo", "GetSystemWow64DirectoryW",
    // The console is set up by main alone: its buffering stays the test's.
    "_isatty", "setvbuf", "GetStdHandle", "WriteFile",
};
const size_t SWEEP_UNREACHED_COUNT = std::size(SWEEP_UNREACHED);
// Wine's own processes come and go: a call of the clean run's that a case
// never reaches is rare.
const unsigned SWEEP_UNMET_PER_MILLE = 20;
const size_t SWEEP_END_ROW = CALL_TerminateProcess;
const SystemCallPtr SWEEP_ENDS_NOTHING = (SystemCallPtr)&ends_nothing;

SystemCallPtr sweep_own_hook(size_t row)
{
    switch (row) {
    case CALL_Sleep: return (SystemCallPtr)&hook_sleep;
    case CALL__open: return (SystemCallPtr)&hook_open;
    case CALL_CloseHandle: return (SystemCallPtr)&hook_close_handle;
    case CALL__close: return (SystemCallPtr)&hook_close;
    case CALL___wgetmainargs: return (SystemCallPtr)&hook_wgetmainargs;
    default: return nullptr;
    }
}

void sweep_set_error(unsigned how, long code)
{
    if (how & LAST_ERROR)
        SetLastError((DWORD)code);
    else
        errno = (int)code;
}

// The system's text for the error, or "error <n>" where that text could not
// be had (FormatMessageA failed too).
std::string sweep_reason(unsigned how, long code, size_t follow)
{
    char text[256] = "";
    if (follow == CALL_FormatMessageA)
        snprintf(text, sizeof text, "error %ld", code);
    else if (!(how & LAST_ERROR))
        snprintf(text, sizeof text, "%s", strerror((int)code));
    else {
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, (DWORD)code,
                                 0, text, sizeof text, nullptr);
        while (n > 0 && strchr("\r\n ", text[n - 1]))
            text[--n] = '\0';
    }
    return text;
}

std::string sweep_unable()
{
    return "";
}

void sweep_enter(bool on)
{
    fflush(stdout);
    fflush(stderr);
    if (on) {
        static HANDLE watcher = CreateThread(nullptr, 0, watch, nullptr, 0, nullptr);
        (void)watcher;
        saved_out = _dup(1);
        saved_err = _dup(2);
        int nul = _open("NUL", _O_WRONLY);
        _dup2(nul, 1);
        _dup2(nul, 2);
        _close(nul);
        filter_before = SetUnhandledExceptionFilter(crashed);
        return;
    }
    SetUnhandledExceptionFilter(filter_before);
    _dup2(saved_out, 1);
    _dup2(saved_err, 2);
    _close(saved_out);
    _close(saved_err);
    saved_out = saved_err = -1;
}

bool sweep_make_dir(const std::string& path)
{
    return CreateDirectoryA(path.c_str(), nullptr);
}

bool sweep_place_program(const std::string& path, bool)
{
    return CopyFileA(standin().c_str(), path.c_str(), FALSE);
}

// The stand-in, started with its standard streams on NUL.
Child sweep_start_sleeper(const std::string& program)
{
    static HANDLE nul = INVALID_HANDLE_VALUE;
    if (nul == INVALID_HANDLE_VALUE) {
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                          OPEN_EXISTING, 0, nullptr);
    }
    std::string env;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* p = block; *p; p += strlen(p) + 1)
            env.append(p).push_back('\0');
        FreeEnvironmentStringsA(block);
    }
    env.append("STANDIN_SLEEP=86400").push_back('\0');
    std::string line = "\"" + program + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, &env[0], nullptr, &si, &pi))
        return Child{};
    CloseHandle(pi.hThread);
    return Child{(long)pi.dwProcessId, pi.hProcess};
}

bool sweep_runs(Child& child)
{
    return child.handle && WaitForSingleObject(child.handle, 0) == WAIT_TIMEOUT;
}

void sweep_end(Child& child)
{
    if (!child.handle)
        return;
    TerminateProcess(child.handle, 1); // the test's own
    WaitForSingleObject(child.handle, 10000);
    CloseHandle(child.handle);
    child = Child{};
}

// The console is set up by main alone, once: a run started as main starts
// it is started as any other.
void sweep_before_run(bool, int argc, const char* const* argv)
{
    wide_args.clear();
    wide_argv.clear();
    for (int i = 0; i < argc; i++)
        wide_args.push_back(std::wstring(argv[i], argv[i] + strlen(argv[i]))); // ASCII
    for (std::wstring& a : wide_args)
        wide_argv.push_back(&a[0]);
    wide_argv.push_back(nullptr);
}

std::string sweep_after_run(bool)
{
    for (size_t i = 0; i < left_handle_count; i++)
        CloseHandle(left_handles[i]);
    for (size_t i = 0; i < left_fd_count; i++)
        _close(left_fds[i]);
    left_handle_count = left_fd_count = 0;
    // The capture programs (zarnivek1.exe) that still run, but the stale instance.
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int left = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        left += _stricmp(entry.szExeFile, "zarnivek1.exe") == 0 && (long)entry.th32ProcessID != sweep_stale.pid;
    CloseHandle(snapshot);
    return left ? "a capture program still ran when the run returned; " : "";
}

std::string sweep_open_objects()
{
    DWORD n = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &n) ? std::to_string(n) : "";
}

void sweep_alarm(unsigned seconds)
{
    InterlockedExchange(&alarm_armed, 0);
    InterlockedExchange(&alarm_at, (LONG)(GetTickCount() + seconds * 1000));
    InterlockedExchange(&alarm_armed, seconds > 0);
}

void sweep_exit(const char* line, size_t len)
{
    (void)_write(saved_err >= 0 ? saved_err : 2, line, (unsigned)len);
    TerminateProcess(GetCurrentProcess(), 1);
    for (;;) {
    }
}
