// The fault sweep of the Windows platform layer: whole runs of the launcher
// on the system's own table (only the program directory is the test's),
// each with one call of the fault table failing the way that call fails.
//
// Every row of platform/win32_calls.h gets a wrapper of its own type that
// counts its calls and, when told, fails its Nth call: the row's failure
// value, with SetLastError (Win32) or errno (C runtime) set to an error
// that call gives. Four runs: a window that waits (the clock rows driven by
// the test) and ends a stale instance before its capture program starts; an
// output name taken twice (its file exists, its first numbered name is held
// by another holder); a stop request; the check. Each runs once clean,
// counting the calls of each row, then once for every call of each row and
// each of the row's errors (some 750 runs, half a minute under Wine).
//
// Under any single fault: no crash, no hang, at most one capture program;
// never a name handed over that exists or another holder holds; never an
// instance of another number ended; the settings file applied whole or the
// run refuses; the run ends as without the fault, or says in one line what
// failed and why, or goes on where that loses nothing; status 0 only when
// the capture program ran and gave 0.
#include "launcher/program.h"
#include "platform/faults.h"
#include "platform/platform.h"
#include "platform/reservation_key.h"
#include "platform/win32_calls.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

// __cdecl is the default convention: a template argument that names it
// loses nothing when GCC drops it. (__stdcall, WINAPI, stays a part of the type.)
#pragma GCC diagnostic ignored "-Wignored-attributes"

#ifndef QB_STANDIN
#error "QB_STANDIN names the Windows stand-in capture program"
#endif

namespace {

// --- The rows and how each one fails

#define ROW_INDEX(f) ROW_##f,
enum Row : size_t { PLATFORM_CALLS(ROW_INDEX) ROW_COUNT };
#undef ROW_INDEX
#define ROW_NAME(f) #f,
const char* const ROW_NAMES[] = {PLATFORM_CALLS(ROW_NAME)};
#undef ROW_NAME

enum Kind {
    NEVER_FAILS, // counted, never failed: every answer it gives is one
    LAST_ERROR,  // fails with SetLastError
    ERRNO,       // a C runtime call: fails with errno
};

struct Error {
    long code;
    const char* name;
};
#define E(code) {code, #code}

struct Failure {
    const char* row;
    Kind kind;
    intptr_t value;  // what the call returns when it fails
    Error errors[3]; // the errors it is failed with, none after the last
};

const intptr_t INVALID_HANDLE = (intptr_t)INVALID_HANDLE_VALUE;

// How each row fails. A row of win32_calls.h missing here fails the sweep.
const Failure FAILURES[] = {
    {"GetModuleFileNameA", LAST_ERROR, 0, {E(ERROR_NOT_ENOUGH_MEMORY), E(ERROR_ACCESS_DENIED)}},
    {"GetACP", NEVER_FAILS, 0, {}},
    {"IsDBCSLeadByte", NEVER_FAILS, 0, {}}, // yes or no
    {"WideCharToMultiByte", LAST_ERROR, 0, {E(ERROR_INSUFFICIENT_BUFFER), E(ERROR_NO_UNICODE_TRANSLATION)}},
    {"MultiByteToWideChar", LAST_ERROR, 0, {E(ERROR_INSUFFICIENT_BUFFER), E(ERROR_NO_UNICODE_TRANSLATION)}},
    {"__wgetmainargs", ERRNO, -1, {E(ENOMEM)}},
    {"GetFullPathNameW", LAST_ERROR, 0, {E(ERROR_NOT_ENOUGH_MEMORY), E(ERROR_FILENAME_EXCED_RANGE)}},
    {"GetFileAttributesW", LAST_ERROR, (intptr_t)INVALID_FILE_ATTRIBUTES,
     {E(ERROR_ACCESS_DENIED), E(ERROR_SHARING_VIOLATION)}},
    {"CreateFileW", LAST_ERROR, INVALID_HANDLE,
     {E(ERROR_ACCESS_DENIED), E(ERROR_SHARING_VIOLATION), E(ERROR_NOT_ENOUGH_MEMORY)}},
    {"ReadFile", LAST_ERROR, FALSE, {E(ERROR_LOCK_VIOLATION), E(ERROR_NOT_ENOUGH_MEMORY)}},
    {"GetModuleHandleW", LAST_ERROR, 0, {E(ERROR_MOD_NOT_FOUND)}},
    {"GetProcAddress", LAST_ERROR, 0, {E(ERROR_PROC_NOT_FOUND)}},
    {"GetNativeSystemInfo", NEVER_FAILS, 0, {}},
    {"GetSystemWow64DirectoryW", LAST_ERROR, 0, {E(ERROR_CALL_NOT_IMPLEMENTED), E(ERROR_NOT_ENOUGH_MEMORY)}},
    {"GetFileInformationByHandle", LAST_ERROR, FALSE, {E(ERROR_INVALID_HANDLE), E(ERROR_ACCESS_DENIED)}},
    {"CloseHandle", LAST_ERROR, FALSE, {E(ERROR_INVALID_HANDLE)}},
    {"LCMapStringW", LAST_ERROR, 0, {E(ERROR_INSUFFICIENT_BUFFER), E(ERROR_NOT_ENOUGH_MEMORY)}},
    // ERROR_INVALID_HANDLE: an object of another kind has the name.
    {"CreateMutexW", LAST_ERROR, 0, {E(ERROR_ACCESS_DENIED), E(ERROR_NOT_ENOUGH_MEMORY), E(ERROR_INVALID_HANDLE)}},
    {"SetHandleInformation", LAST_ERROR, FALSE, {E(ERROR_INVALID_HANDLE), E(ERROR_ACCESS_DENIED)}},
    {"SetConsoleCtrlHandler", LAST_ERROR, FALSE, {E(ERROR_NOT_ENOUGH_MEMORY)}},
    {"CreateProcessA", LAST_ERROR, FALSE, {E(ERROR_ACCESS_DENIED), E(ERROR_NOT_ENOUGH_MEMORY)}},
    {"WaitForSingleObject", LAST_ERROR, (intptr_t)WAIT_FAILED, {E(ERROR_INVALID_HANDLE), E(ERROR_ACCESS_DENIED)}},
    {"GetExitCodeProcess", LAST_ERROR, FALSE, {E(ERROR_INVALID_HANDLE), E(ERROR_ACCESS_DENIED)}},
    {"system", ERRNO, -1, {E(ENOMEM), E(ENOENT)}},
    // ERROR_BAD_LENGTH: the table changed while the snapshot was taken.
    {"CreateToolhelp32Snapshot", LAST_ERROR, INVALID_HANDLE, {E(ERROR_NOT_ENOUGH_MEMORY), E(ERROR_BAD_LENGTH)}},
    {"Process32First", LAST_ERROR, FALSE, {E(ERROR_INVALID_HANDLE), E(ERROR_ACCESS_DENIED)}},
    {"Process32Next", LAST_ERROR, FALSE, {E(ERROR_INVALID_HANDLE), E(ERROR_ACCESS_DENIED)}},
    {"GetCurrentProcessId", NEVER_FAILS, 0, {}},
    {"OpenProcess", LAST_ERROR, 0, {E(ERROR_ACCESS_DENIED), E(ERROR_NOT_ENOUGH_MEMORY)}},
    {"TerminateProcess", LAST_ERROR, FALSE, {E(ERROR_ACCESS_DENIED), E(ERROR_INVALID_HANDLE)}},
    {"Sleep", NEVER_FAILS, 0, {}},
    {"GetStdHandle", LAST_ERROR, INVALID_HANDLE, {E(ERROR_INVALID_HANDLE)}},
    {"WriteFile", LAST_ERROR, FALSE, {E(ERROR_NO_DATA), E(ERROR_NOT_ENOUGH_MEMORY)}},
    {"FormatMessageA", LAST_ERROR, 0, {E(ERROR_MR_MID_NOT_FOUND)}},
    {"getenv", NEVER_FAILS, 0, {}}, // set or not: both are answers
    {"_isatty", ERRNO, 0, {E(EBADF)}},
    {"setvbuf", ERRNO, -1, {E(EINVAL)}},
    {"fwrite", ERRNO, 0, {E(EIO), E(ENOSPC)}},
    {"_open", ERRNO, -1, {E(EMFILE), E(EACCES)}},
    {"_read", ERRNO, -1, {E(EIO), E(EINTR)}},
    {"_close", ERRNO, -1, {E(EIO)}},
    {"_fstat", ERRNO, -1, {E(EBADF)}},
    {"time", ERRNO, -1, {E(EINVAL)}},
    {"localtime", ERRNO, 0, {E(EINVAL)}},
    {"gmtime", ERRNO, 0, {E(EINVAL)}},
    {"strftime", ERRNO, 0, {E(ERANGE)}},
};

// Rows none of the four runs reaches, and why.
const char* const NOT_REACHED[] = {
    "GetModuleFileNameA", // the program directory is the test's
    "_isatty", "setvbuf", "GetStdHandle", "WriteFile", // the console is set up by main alone
    // The check's capture program is of this program's own machine: which
    // machines this system runs is never asked.
    "GetModuleHandleW", "GetProcAddress", "GetNativeSystemInfo", "GetSystemWow64DirectoryW",
};

const Failure* failure_of[ROW_COUNT];

// --- The wrappers

SystemCallPtr originals[ROW_COUNT];
size_t calls[ROW_COUNT];
bool armed = false; // counting (and failing) only while a run runs

// The call that fails: the index-th call of row, from 1.
struct Strike {
    size_t row = ROW_COUNT; // none
    size_t index = 0;
    Error error = {};
};
// One call fails; a second one only where it is reached through the first
// (the system's text for an error, asked for after a call failed).
struct Fault {
    Strike first, then;
    bool struck = false; // the first one was met
} fault;

// Counts a call of row; true when it is one to fail, its error set.
bool strike(size_t row)
{
    if (!armed)
        return false;
    size_t n = ++calls[row];
    const Strike* s = row == fault.first.row && n == fault.first.index ? &fault.first
                      : row == fault.then.row && n == fault.then.index ? &fault.then
                                                                         : nullptr;
    if (!s)
        return false;
    fault.struck = fault.struck || s == &fault.first;
    if (failure_of[row]->kind == ERRNO)
        errno = (int)s->error.code;
    else
        SetLastError((DWORD)s->error.code);
    return true;
}

template <typename R> R failed(size_t row)
{
    return (R)failure_of[row]->value;
}

// A wrapper of the row's own type; none for a type it does not know (a
// C runtime call with "...": written out below).
template <size_t R, typename F> struct Wrap {
    static SystemCallPtr pointer() { return nullptr; }
};
#define WRAP_CONVENTION(CONVENTION)                                                                 \
    template <size_t Row, typename R, typename... A> struct Wrap<Row, R(CONVENTION*)(A...)> {       \
        static R CONVENTION call(A... a)                                                            \
        {                                                                                           \
            if constexpr (!std::is_void<R>::value)                                                  \
                if (strike(Row))                                                                    \
                    return failed<R>(Row);                                                          \
            return ((R(CONVENTION*)(A...))originals[Row])(a...);                                    \
        }                                                                                           \
        static SystemCallPtr pointer() { return (SystemCallPtr)&call; }                             \
    };
WRAP_CONVENTION(WINAPI)
#ifndef _WIN64 // one convention on 64-bit Windows
WRAP_CONVENTION(__cdecl)
#endif
#undef WRAP_CONVENTION

// The clock of a run: it moves only when the run pauses.
const long long DAY_MS = 24LL * 3600 * 1000;
long long clock_ms = 0, clock_start_ms = 0;

// Where the run's standard output and standard error go, and the test's
// own standard error while a run's children would write on it.
FILE* captured[2] = {};
int test_stderr = -1;
std::string current_case;

void give_up(const char* why)
{
    std::string line = "fault sweep: " + current_case + ": " + why + "\n";
    (void)_write(test_stderr >= 0 ? test_stderr : 2, line.data(), (unsigned)line.size());
    TerminateProcess(GetCurrentProcess(), 99);
}

time_t __cdecl sweep_time(time_t* out)
{
    if (strike(ROW_time))
        return (time_t)-1;
    time_t t = armed ? (time_t)(clock_ms / 1000) : ((decltype(&::time))originals[ROW_time])(nullptr);
    if (out)
        *out = t;
    return t;
}

void WINAPI sweep_sleep(DWORD ms)
{
    (void)strike(ROW_Sleep);
    if (!armed)
        return ((decltype(&::Sleep))originals[ROW_Sleep])(ms);
    clock_ms += ms;
    if (clock_ms - clock_start_ms > 3 * DAY_MS)
        give_up("the run still waits after three days on its clock");
}

size_t __cdecl sweep_fwrite(const void* p, size_t size, size_t n, FILE* stream)
{
    if (strike(ROW_fwrite))
        return 0;
    if (armed && (stream == stdout || stream == stderr))
        stream = captured[stream == stderr];
    return ((decltype(&::fwrite))originals[ROW_fwrite])(p, size, n, stream);
}

int __cdecl sweep_open(const char* path, int flags, ...)
{
    int mode = 0;
    if (flags & _O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    if (strike(ROW__open))
        return -1;
    return ((decltype(&::_open))originals[ROW__open])(path, flags, mode);
}

// A handle or descriptor whose closing failed stays open: the test closes
// it after the run, as the end of the run's process would.
HANDLE left_handles[32];
int left_fds[32];
size_t left_handle_count = 0, left_fd_count = 0;

BOOL WINAPI sweep_close_handle(HANDLE h)
{
    if (left_handle_count == std::size(left_handles))
        give_up("too many handles left open");
    if (strike(ROW_CloseHandle)) {
        left_handles[left_handle_count++] = h;
        return FALSE;
    }
    return ((decltype(&::CloseHandle))originals[ROW_CloseHandle])(h);
}

int __cdecl sweep_close(int fd)
{
    if (left_fd_count == std::size(left_fds))
        give_up("too many descriptors left open");
    if (strike(ROW__close)) {
        left_fds[left_fd_count++] = fd;
        return -1;
    }
    return ((decltype(&::_close))originals[ROW__close])(fd);
}

static_assert(std::is_same<decltype(&sweep_close_handle), decltype(&::CloseHandle)>::value, "CloseHandle");
static_assert(std::is_same<decltype(&sweep_close), decltype(&::_close)>::value, "_close");
static_assert(std::is_same<decltype(&sweep_time), decltype(&::time)>::value, "time");
static_assert(std::is_same<decltype(&sweep_sleep), decltype(&::Sleep)>::value, "Sleep");
static_assert(std::is_same<decltype(&sweep_fwrite), decltype(&::fwrite)>::value, "fwrite");
static_assert(std::is_same<decltype(&sweep_open), decltype(&::_open)>::value, "_open");

#define ROW_WRAPPER(f) Wrap<ROW_##f, decltype(&::f)>::pointer(),
SystemCallPtr wrapper_of(size_t row)
{
    const SystemCallPtr generic[] = {PLATFORM_CALLS(ROW_WRAPPER)};
    switch (row) {
    case ROW_time: return (SystemCallPtr)&sweep_time;
    case ROW_Sleep: return (SystemCallPtr)&sweep_sleep;
    case ROW_fwrite: return (SystemCallPtr)&sweep_fwrite;
    case ROW__open: return (SystemCallPtr)&sweep_open;
    case ROW_CloseHandle: return (SystemCallPtr)&sweep_close_handle;
    case ROW__close: return (SystemCallPtr)&sweep_close;
    default: return generic[row];
    }
}
#undef ROW_WRAPPER

// --- The test's own processes and files (its own calls, past the table)

std::string windows_path(const char* path)
{
    std::string p = path;
    if (p[0] == '/')
        p = "Z:" + p; // Wine's drive for the Linux root
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::wstring wide(const std::string& s)
{
    wchar_t w[MAX_PATH * 2];
    int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w, MAX_PATH * 2);
    return n > 0 ? w : L"";
}

bool write_file(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return f && fclose(f) == 0 && ok;
}

std::string read_file(const std::string& path)
{
    std::string bytes;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
            bytes.append(buf, n);
        fclose(f);
    }
    return bytes;
}

// A copy of the stand-in that sleeps ten minutes, started by the test,
// its standard streams on NUL.
HANDLE start_sleeper(const std::string& exe, DWORD* pid)
{
    static HANDLE nul = INVALID_HANDLE_VALUE;
    if (nul == INVALID_HANDLE_VALUE) {
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                          OPEN_EXISTING, 0, nullptr);
    }
    std::wstring env;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1)
            env.append(p).push_back(L'\0');
        FreeEnvironmentStringsW(block);
    }
    env.append(L"STANDIN_SLEEP=600").push_back(L'\0');
    std::wstring line = L"\"" + wide(exe) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, &env[0], nullptr,
                        &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    *pid = pi.dwProcessId;
    return pi.hProcess;
}

bool runs(HANDLE process)
{
    return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// Processes of the image name other than those with the pids given.
int others_running(const char* image, DWORD a, DWORD b)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int n = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        n += _stricmp(entry.szExeFile, image) == 0 && entry.th32ProcessID != a && entry.th32ProcessID != b;
    CloseHandle(snapshot);
    return n;
}

// The argument vectors the stand-in logged: "<length>:<bytes>" each.
std::vector<std::vector<std::string>> logged_calls(const std::string& log)
{
    std::vector<std::vector<std::string>> all;
    size_t at = 0;
    while (at < log.size()) {
        std::vector<std::string> argv;
        while (at < log.size() && log[at] != '\n') {
            size_t colon = log.find(':', at);
            if (colon == std::string::npos)
                break;
            size_t len = strtoul(log.c_str() + at, nullptr, 10);
            argv.push_back(log.substr(colon + 1, len));
            at = colon + 1 + len;
        }
        all.push_back(argv);
        at++;
    }
    return all;
}

std::vector<std::string> lines_of(const std::string& text)
{
    // A progress line ends in '\r' and is overwritten: only what follows
    // the last '\r' of a line stays.
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::string line = text.substr(at, nl - at);
        size_t cr = line.rfind('\r');
        lines.push_back(cr == std::string::npos ? line : line.substr(cr + 1));
    }
    if (at < text.size() && text.find_first_not_of(" \r", at) != std::string::npos) {
        std::string rest = text.substr(at);
        size_t cr = rest.rfind('\r');
        lines.push_back(cr == std::string::npos ? rest : rest.substr(cr + 1));
    }
    return lines;
}

bool starts(const std::string& s, const std::string& head)
{
    return s.compare(0, head.size(), head) == 0;
}

// "<head>...: <reason>", the reason not empty (head may end in its ": ").
bool says_why(const std::string& line, const std::string& head)
{
    size_t colon = line.find(": ", head.size() < 2 ? 0 : head.size() - 2);
    return starts(line, head) && colon != std::string::npos && colon + 2 < line.size();
}

// --- The runs

enum What { WINDOW, TAKEN, STOP, CHECK };

struct Scenario {
    const char* name;
    What kind;
    const Platform* os;
    std::string dir;               // its program directory
    std::vector<std::string> args; // after the program's name
    std::vector<std::string> taken; // names that exist or another holder holds
};

struct Outcome {
    int status = 0;
    std::string out, err;
    std::vector<std::vector<std::string>> launches;
    bool stale_runs = false, decoy_runs = false;
    int stragglers = 0;
    size_t calls[ROW_COUNT] = {};
};

const char STOP_TAIL[] = " \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";

class FaultSweepWin32 : public testing::Test {
protected:
    static std::string root, dir_blank, dir_plain, window;
    static HANDLE stale, decoy;
    static DWORD stale_pid, decoy_pid;
    static HANDLE holder; // another holder of the first numbered name
    static long long start_ms;
    static Platform blank, plain; // the system's own table, but for the program directory

    static bool program_dir_blank(char* out, size_t cap) { return copy_dir(dir_blank, out, cap); }
    static bool program_dir_plain(char* out, size_t cap) { return copy_dir(dir_plain, out, cap); }
    static bool copy_dir(const std::string& dir, char* out, size_t cap)
    {
        return snprintf(out, cap, "%s", dir.c_str()) < (int)cap;
    }

    static void SetUpTestSuite()
    {
        for (size_t i = 0; i < ROW_COUNT; i++) {
            for (const Failure& f : FAILURES)
                if (strcmp(f.row, ROW_NAMES[i]) == 0)
                    failure_of[i] = &f;
            ASSERT_TRUE(failure_of[i]) << ROW_NAMES[i] << " has no failure in this sweep";
            ASSERT_STREQ(faults_row(i), ROW_NAMES[i]);
            ASSERT_TRUE(wrapper_of(i)) << ROW_NAMES[i] << " has no wrapper";
        }
        ASSERT_EQ(std::size(FAILURES), (size_t)ROW_COUNT) << "a failure for a row that is none";
        blank = plain = platform_os;
        blank.program_dir = program_dir_blank;
        plain.program_dir = program_dir_plain;

        root = temp_dir_make();
        ASSERT_FALSE(root.empty());
        dir_blank = root + "prog a\\"; // a capture program started directly
        dir_plain = root + "prog\\";   // one started through cmd.exe
        const std::string standin = windows_path(QB_STANDIN);
        for (const std::string& d : {dir_blank, dir_plain, root + "stale\\", root + "decoy\\"})
            ASSERT_TRUE(CreateDirectoryA(d.c_str(), nullptr)) << d;
        for (const std::string& exe : {dir_blank + "zarnivek.exe", dir_plain + "zarnivek.exe",
                                       root + "stale\\zarnivek.exe", root + "decoy\\zarnivek1.exe"})
            ASSERT_TRUE(CopyFileA(standin.c_str(), exe.c_str(), FALSE)) << standin << " -> " << exe;
        // The instance number 1 less 1 is 0, and source id 400 becomes 401:
        // a settings file not applied would start zarnivek1.exe with @400.
        for (const std::string& d : {dir_blank, dir_plain})
            ASSERT_TRUE(write_file(d + "quellatorbin.ini", "I1\r\n@400,401\r\n"));
        ASSERT_TRUE(write_file(dir_plain + "rec.ts", ""));
        ReservationKeys keys;
        char why[REASON_CAP];
        ASSERT_EQ(reservation_keys((dir_plain + "rec(1).ts").c_str(), &keys, why, sizeof why), KEYS_BOTH) << why;
        const char* key = keys.path;
        wchar_t object[MAX_PATH], wide_key[RESERVATION_KEY_CAP];
        ASSERT_GT(MultiByteToWideChar(CP_UTF8, 0, key, -1, wide_key, RESERVATION_KEY_CAP), 0);
        _snwprintf(object, MAX_PATH, L"Global\\%ls", wide_key);
        holder = CreateMutexW(nullptr, FALSE, object);
        ASSERT_TRUE(holder && GetLastError() != ERROR_ALREADY_EXISTS);
        decoy = start_sleeper(root + "decoy\\zarnivek1.exe", &decoy_pid);
        ASSERT_TRUE(decoy);

        // The run's clock starts 2 s before a launch moment: the window
        // opens at the next minute, its launch is at second 40 of this one.
        time_t now = time(nullptr);
        struct tm local = *localtime(&now);
        time_t t0 = now - local.tm_sec + 38;
        time_t opens = t0 + 22, closes = opens + 30 * 60;
        struct tm a = *localtime(&opens), b = *localtime(&closes);
        char text[32];
        snprintf(text, sizeof text, "%02d:%02d-%02d:%02d", a.tm_hour, a.tm_min, b.tm_hour, b.tm_min);
        window = text;
        start_ms = (long long)t0 * 1000;
    }

    static void TearDownTestSuite()
    {
        for (HANDLE* p : {&stale, &decoy})
            if (*p) {
                TerminateProcess(*p, 1); // the test's own sleepers
                WaitForSingleObject(*p, 10000);
                CloseHandle(*p);
                *p = nullptr;
            }
        if (holder)
            CloseHandle(holder);
        holder = nullptr;
        if (!root.empty())
            remove_tree(root);
    }

    // Removes dir (ending in a backslash) and everything in it.
    static void remove_tree(const std::string& dir)
    {
        WIN32_FIND_DATAA entry;
        HANDLE found = FindFirstFileA((dir + "*").c_str(), &entry);
        for (BOOL more = found != INVALID_HANDLE_VALUE; more; more = FindNextFileA(found, &entry)) {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(dir + name + "\\");
            else
                temp_remove_file(dir + name);
        }
        if (found != INVALID_HANDLE_VALUE)
            FindClose(found);
        temp_remove_dir(dir);
    }

    static void ensure_stale()
    {
        if (runs(stale))
            return;
        if (stale)
            CloseHandle(stale);
        stale = start_sleeper(root + "stale\\zarnivek.exe", &stale_pid);
    }

    static void end_stale()
    {
        TerminateProcess(stale, 1); // the test's own
        WaitForSingleObject(stale, 10000);
    }

    // The run's arguments in UTF-16, as the C runtime gives a program its
    // own command line's: the runs are given theirs by the test, not by a
    // command line.
    static inline std::vector<std::wstring> wide_args;
    static inline std::vector<wchar_t*> wide_argv;
    static int run_wide_args(int* argc, wchar_t*** argv, wchar_t*** env, int, int*)
    {
        static wchar_t* no_env[] = {nullptr};
        *argc = (int)wide_args.size();
        *argv = wide_argv.data();
        *env = no_env;
        return 0;
    }

    void install()
    {
        for (size_t i = 0; i < ROW_COUNT; i++) {
            originals[i] = faults_original(ROW_NAMES[i]);
            ASSERT_TRUE(faults_set(ROW_NAMES[i], wrapper_of(i))) << ROW_NAMES[i];
        }
        originals[ROW___wgetmainargs] = (SystemCallPtr)&run_wide_args;
    }

    void uninstall()
    {
        for (size_t i = 0; i < ROW_COUNT; i++)
            faults_set(ROW_NAMES[i], nullptr);
    }

    Outcome run(const Scenario& s, const Fault& f)
    {
        Outcome o;
        if (s.kind != TAKEN)
            ensure_stale();
        else if (runs(stale))
            end_stale(); // no instance runs where a name is taken
        DeleteFileA((s.dir + "calls.log").c_str());
        captured[0] = fopen((root + "out.txt").c_str(), "w+b");
        captured[1] = fopen((root + "err.txt").c_str(), "w+b");
        std::vector<const char*> argv = {"quellatorbin"};
        for (const std::string& a : s.args)
            argv.push_back(a.c_str());
        wide_args.clear();
        wide_argv.clear();
        for (const char* a : argv)
            wide_args.push_back(std::wstring(a, a + strlen(a))); // ASCII
        for (std::wstring& a : wide_args)
            wide_argv.push_back(&a[0]);
        wide_argv.push_back(nullptr);
        fault = f;
        memset(calls, 0, sizeof calls);
        clock_ms = clock_start_ms = start_ms;
        armed = true;
        o.status = launcher_run((int)argv.size(), argv.data(), *s.os);
        armed = false;
        platform_os.release_name(); // as the end of its process would
        for (size_t i = 0; i < left_handle_count; i++)
            CloseHandle(left_handles[i]);
        for (size_t i = 0; i < left_fd_count; i++)
            _close(left_fds[i]);
        left_handle_count = left_fd_count = 0;
        memcpy(o.calls, calls, sizeof calls);
        for (int i = 0; i < 2; i++) {
            fclose(captured[i]);
            captured[i] = nullptr;
        }
        o.out = read_file(root + "out.txt");
        o.err = read_file(root + "err.txt");
        o.launches = logged_calls(read_file(s.dir + "calls.log"));
        o.stale_runs = runs(stale);
        o.decoy_runs = runs(decoy);
        o.stragglers = others_running("zarnivek.exe", stale_pid, decoy_pid);
        if (!o.decoy_runs) // it must not happen; the next case needs one
            decoy = start_sleeper(root + "decoy\\zarnivek1.exe", &decoy_pid);
        return o;
    }

    // What is wrong with got, a run with fault f, beside clean; "" for nothing.
    std::string judge(const Scenario& s, const Outcome& clean, const Outcome& got, const Fault& f)
    {
        std::string what = judge_outcome(s, clean, got, f);
        return what.empty() ? judge_reasons(clean, got, f) : what;
    }

    // The reason in every line the fault brought that says why something
    // failed: the system's text for the error given, or "error <n>" where
    // that text could not be had. The clock's failures give no error: the
    // check says the clock cannot be read. "Cannot open '<settings>'"
    // names no reason.
    static std::string judge_reasons(const Outcome& clean, const Outcome& got, const Fault& f)
    {
        const Strike& first = f.first;
        if (first.row == ROW_time || first.row == ROW_localtime || first.row == ROW_gmtime)
            return "";
        char text[256] = "";
        if (f.then.row == ROW_FormatMessageA)
            snprintf(text, sizeof text, "error %ld", first.error.code);
        else if (failure_of[first.row]->kind == ERRNO)
            snprintf(text, sizeof text, "%s", strerror((int)first.error.code));
        else {
            DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     (DWORD)first.error.code, 0, text, sizeof text, nullptr);
            while (n > 0 && strchr("\r\n ", text[n - 1]))
                text[--n] = '\0';
        }
        for (const auto& [now, before] : {std::make_pair(got.out, clean.out), std::make_pair(got.err, clean.err)}) {
            std::vector<std::string> lines = lines_of(now), old = lines_of(before);
            for (const std::string& line : lines) {
                bool gives_why = (starts(line, "Cannot ") && !starts(line, "Cannot open '")) ||
                                 starts(line, "cannot ") || starts(line, "problem: ");
                if (gives_why && std::find(old.begin(), old.end(), line) == old.end() &&
                    line.find(text) == std::string::npos)
                    return "'" + line + "' does not give the reason, " + text;
            }
        }
        return "";
    }

    std::string judge_outcome(const Scenario& s, const Outcome& clean, const Outcome& got, const Fault& f)
    {
        std::vector<std::string> out = lines_of(got.out), clean_out = lines_of(clean.out);
        std::vector<std::string> err = lines_of(got.err);
        const std::string image = "zarnivek.exe";
        bool stop_message = std::find(out.begin(), out.end(), image + STOP_TAIL) != out.end();
        if (got.launches.size() > 1)
            return "the capture program started " + std::to_string(got.launches.size()) + " times";
        if (!got.decoy_runs)
            return "zarnivek1.exe, another instance number, was ended";
        if (got.stragglers)
            return "a capture program still runs after the run ended";
        if (s.kind == CHECK && (!got.launches.empty() || !got.stale_runs))
            return "the check started or ended a program";
        for (const auto& argv : got.launches) {
            if (argv.size() != 4 || argv[2] != "@401")
                return "the capture program got other arguments than a run with the settings applied gives";
            if (std::find(s.taken.begin(), s.taken.end(), argv[1]) != s.taken.end())
                return "the output name " + argv[1] + " was handed over, which is taken";
        }
        if (got.status == 0 && s.kind != CHECK && (got.launches.empty() || s.kind == STOP))
            return "status 0, and no capture program ran";
        if (stop_message && got.stale_runs)
            return "it says it ended zarnivek.exe, which still runs";
        // Whatever the stale instance's fate, it is told.
        auto told = [&](const std::string& line) {
            return says_why(line, "Cannot end " + image + ": ") ||
                   says_why(line, "Cannot tell whether " + image + " runs: ");
        };
        auto refused = [&](const std::string& line) {
            std::string settings = s.dir + "quellatorbin.ini";
            return says_why(line, "Cannot read '" + settings + "': ") || line == "Cannot open '" + settings + "'" ||
                   says_why(line, "Cannot tell whether the output name ") ||
                   (starts(line, "Bad file argument '") && line.find("cannot be had from the command line: ") !=
                                                               std::string::npos);
        };
        bool any_told = std::any_of(out.begin(), out.end(), told);
        bool any_refused = std::any_of(out.begin(), out.end(), refused);
        if ((s.kind == WINDOW || s.kind == STOP) && got.stale_runs && !any_told && !any_refused)
            return "zarnivek.exe still runs, and the run does not say so";
        bool same_start = got.status == clean.status && got.launches.size() == clean.launches.size();
        if (same_start && got.launches == clean.launches && out == clean_out)
            return ""; // as without the fault
        if (f.first.row == ROW_fwrite) { // a message lost on its way: nobody to tell
            size_t head = 0, tail = 0, n = got.out.size();
            while (head < n && got.out[head] == clean.out[head])
                head++;
            while (tail < n - head && got.out[n - 1 - tail] == clean.out[clean.out.size() - 1 - tail])
                tail++;
            return same_start && head + tail == n ? "" : "a failed write changed more than what it wrote";
        }
        if (f.first.row == ROW_strftime && s.kind == CHECK) { // the zone's name cannot be had: none is shown
            for (std::string& line : clean_out)
                if (starts(line, "local time: ") && line.find(" (") != std::string::npos)
                    line = line.substr(0, 21) + line.substr(line.find(" ("));
            if (same_start && out == clean_out)
                return "";
        }
        // The check: a finding it cannot make is a problem, with its
        // reason, or it refuses as the run would.
        if (s.kind == CHECK && (got.status == 2 || got.status == 1) &&
            std::any_of(out.begin(), out.end(),
                        [&](const std::string& l) { return says_why(l, "problem: ") || refused(l); }))
            return "";
        // Refused, in one last line that says why, before any start.
        if (got.status == 1 && got.launches.empty() && !out.empty() && (refused(out.back()) ||
                                                                         (s.kind == STOP && told(out.back()))))
            return "";
        // A start that failed: its line on standard error, no capture program.
        if (got.status == -1 && got.launches.empty() && !err.empty() &&
            (says_why(err.back(), "cannot start '") || says_why(err.back(), "cannot start the command interpreter")))
            return "";
        // A capture program that ran, whose end cannot be told.
        if (got.status == -1 && got.launches.size() == 1 && !err.empty() && says_why(err.back(), "cannot tell how '"))
            return "";
        // Gone on: the same start, under another free name perhaps (a name
        // whose holder may not be asked is taken for held), and every line
        // more than without the fault says what failed and why.
        if (same_start) {
            std::string name = output_name(got), clean_name = output_name(clean);
            bool fine = std::find(s.taken.begin(), s.taken.end(), name) == s.taken.end();
            for (std::string line : out) {
                size_t at = name.empty() || name == clean_name ? std::string::npos : line.find(name);
                if (at != std::string::npos)
                    line.replace(at, name.size(), clean_name);
                fine = fine && (told(line) || (s.kind == CHECK && starts(line, "output name: ")) ||
                                std::find(clean_out.begin(), clean_out.end(), line) != clean_out.end());
            }
            if (fine)
                return "";
        }
        return "neither as without the fault, nor refused or gone on with a line that says why";
    }

    // The output name a run handed over, or the check names.
    static std::string output_name(const Outcome& o)
    {
        if (!o.launches.empty())
            return o.launches[0][1];
        for (const std::string& line : lines_of(o.out))
            if (starts(line, "output name: "))
                return line.substr(13, line.find(" (") == std::string::npos ? std::string::npos : line.find(" (") - 13);
        return "";
    }

    static std::string describe(const Strike& s)
    {
        return std::string(ROW_NAMES[s.row]) + " call " + std::to_string(s.index) + " fails with " +
               (failure_of[s.row]->kind == ERRNO ? "errno " : "") + s.error.name;
    }

    static std::string describe(const Scenario& s, const Fault& f)
    {
        return std::string(s.name) + ": " + describe(f.first) +
               (f.then.row < ROW_COUNT ? ", then " + describe(f.then) : std::string());
    }

    static std::string show(const Outcome& o)
    {
        std::string text = "status " + std::to_string(o.status) + ", " + std::to_string(o.launches.size()) +
                           " started" + (o.stale_runs ? ", the stale instance runs" : "") + "\n  out: ";
        for (const std::string& l : lines_of(o.out))
            text += l + " | ";
        text += "\n  err: ";
        for (const std::string& l : lines_of(o.err))
            text += l + " | ";
        return text;
    }
};

std::string FaultSweepWin32::root, FaultSweepWin32::dir_blank, FaultSweepWin32::dir_plain, FaultSweepWin32::window;
HANDLE FaultSweepWin32::stale = nullptr, FaultSweepWin32::decoy = nullptr, FaultSweepWin32::holder = nullptr;
DWORD FaultSweepWin32::stale_pid = 0, FaultSweepWin32::decoy_pid = 0;
long long FaultSweepWin32::start_ms = 0;
Platform FaultSweepWin32::blank, FaultSweepWin32::plain;

LONG WINAPI crashed(EXCEPTION_POINTERS*)
{
    give_up("crashed");
    return EXCEPTION_EXECUTE_HANDLER;
}

TEST_F(FaultSweepWin32, EverySingleFaultEndsWell)
{
    const Scenario scenarios[] = {
        {"window", WINDOW, &blank, dir_blank, {"I1", dir_blank + "rec.ts", "@400", window}, {}},
        {"taken twice", TAKEN, &plain, dir_plain, {dir_plain + "rec.ts", "@400", "2100", "I1"},
         {dir_plain + "rec.ts", dir_plain + "rec(1).ts"}},
        {"stop", STOP, &blank, dir_blank, {"stop", "I1"}, {}},
        {"check", CHECK, &blank, dir_blank, {"--check", dir_blank + "rec.ts", "@400", window, "I1"}, {}},
    };

    // The runs' children write on the test's standard output and error:
    // they go to NUL meanwhile, and nothing of the test's is said there.
    fflush(stdout);
    fflush(stderr);
    int saved_out = _dup(1), nul = _open("NUL", _O_WRONLY);
    test_stderr = _dup(2);
    _dup2(nul, 1);
    _dup2(nul, 2);
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(crashed);
    install();
    ULONGLONG started = GetTickCount64();

    std::vector<std::string> wrong, unreached_faults, counts;
    size_t cases = 0;
    size_t reached[ROW_COUNT] = {};
    // QB_SWEEP_CASE="<run>: <row> call <n> fails with <error>" (or the start
    // of it) runs those cases alone, and shows what each did.
    const char* only = getenv("QB_SWEEP_CASE");
    std::vector<std::string> shown;
    auto try_fault = [&](const Scenario& s, const Outcome& clean, const Fault& f) {
        current_case = describe(s, f);
        if (only && !starts(current_case, only))
            return Outcome{};
        Outcome got = run(s, f);
        if (only)
            shown.push_back(current_case + ": " + show(got));
        cases++;
        for (size_t i = 0; i < ROW_COUNT; i++)
            reached[i] += got.calls[i];
        if (!fault.struck)
            unreached_faults.push_back(current_case);
        std::string what = judge(s, clean, got, f);
        if (!what.empty())
            wrong.push_back(current_case + ": " + what + "\n  " + show(got) + "\n  without the fault: " + show(clean));
        return got;
    };
    for (const Scenario& s : scenarios) {
        if (only && !starts(only, s.name) && !starts(s.name, only))
            continue;
        current_case = std::string(s.name) + ", clean";
        Outcome clean = run(s, Fault{});
        for (size_t i = 0; i < ROW_COUNT; i++)
            reached[i] += clean.calls[i];
        bool clean_ok = clean.status == (s.kind == STOP ? 1 : 0) &&
                        clean.launches.size() == (s.kind == WINDOW || s.kind == TAKEN ? 1u : 0u) &&
                        (s.kind == CHECK) == clean.stale_runs;
        if (!clean_ok) {
            wrong.push_back(std::string(s.name) + " without a fault: " + show(clean));
            continue;
        }
        size_t before_cases = cases, all_calls = 0;
        bool followed[ROW_COUNT][ROW_COUNT] = {};
        for (size_t row = 0; row < ROW_COUNT; row++) {
            all_calls += clean.calls[row];
            if (failure_of[row]->kind == NEVER_FAILS)
                continue;
            for (size_t index = 1; index <= clean.calls[row]; index++)
                for (const Error* e = failure_of[row]->errors; e < std::end(failure_of[row]->errors) && e->code; e++) {
                    Fault f;
                    f.first = Strike{row, index, *e};
                    Outcome got = try_fault(s, clean, f);
                    // A row this run reaches only through the failure (the
                    // system's text for it): its first call fails too, once
                    // for each row whose failure reaches it.
                    for (size_t then = 0; then < ROW_COUNT; then++)
                        if (!clean.calls[then] && got.calls[then] && failure_of[then]->kind != NEVER_FAILS &&
                            !followed[row][then]) {
                            followed[row][then] = true;
                            Fault g = f;
                            g.then = Strike{then, 1, failure_of[then]->errors[0]};
                            try_fault(s, clean, g);
                        }
                }
        }
        counts.push_back(std::string(s.name) + " " + std::to_string(cases - before_cases) + " (" +
                         std::to_string(all_calls) + " calls)");
    }

    uninstall();
    SetUnhandledExceptionFilter(before);
    _dup2(saved_out, 1);
    _dup2(test_stderr, 2);
    _close(saved_out);
    _close(nul);
    _close(test_stderr);
    test_stderr = -1;

    std::string per_run;
    for (const std::string& c : counts)
        per_run += (per_run.empty() ? "" : ", ") + c;
    printf("fault sweep: %u cases in %.1f s: %s\n", (unsigned)cases, (double)(GetTickCount64() - started) / 1000,
           per_run.c_str());
    for (const std::string& line : shown)
        printf("%s\n", line.c_str());
    for (const std::string& w : wrong)
        ADD_FAILURE() << w;
    if (only)
        return;
    // The process table may change between runs (Wine's own processes):
    // a call index of the clean run that a run then never reaches is rare.
    EXPECT_LE(unreached_faults.size(), cases / 50) << "faults that no call met, such as " << unreached_faults[0];
    std::vector<std::string> not_reached;
    for (size_t i = 0; i < ROW_COUNT; i++)
        if (!reached[i])
            not_reached.push_back(ROW_NAMES[i]);
    std::vector<std::string> listed(std::begin(NOT_REACHED), std::end(NOT_REACHED));
    std::sort(listed.begin(), listed.end());
    std::sort(not_reached.begin(), not_reached.end());
    EXPECT_EQ(not_reached, listed)
        << "a row that no run reaches is listed in NOT_REACHED, with the reason";
}

// TerminateProcess may report success and leave the process running (a
// 64-bit one, for a 32-bit run on some systems): no single failing call
// makes that, so the row is swapped for one that ends nothing.
BOOL WINAPI end_nothing(HANDLE, UINT)
{
    return TRUE;
}

TEST_F(FaultSweepWin32, AnEndThatLeavesTheProcessRunningIsNoEnd)
{
    install();
    ASSERT_TRUE(faults_set("TerminateProcess", (SystemCallPtr)&end_nothing));
    static_assert(std::is_same<decltype(&end_nothing), decltype(&::TerminateProcess)>::value, "its row's type");
    current_case = "stop, TerminateProcess ends nothing";
    Outcome got = run(Scenario{"stop", STOP, &blank, dir_blank, {"stop", "I1"}, {}}, Fault{});
    uninstall();
    EXPECT_EQ(got.status, 1);
    EXPECT_TRUE(got.stale_runs);
    EXPECT_EQ(lines_of(got.out), std::vector<std::string>{"Cannot end zarnivek.exe: it still runs after it was ended"});
}

} // namespace
