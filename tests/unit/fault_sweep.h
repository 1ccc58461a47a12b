// The fault sweep's two halves. The core (fault_sweep_test.cpp) is written
// once: the scenarios, what a case leaves behind, what must hold under any
// single fault, which cases run, and the alarm for a case that does not
// end. Each platform's part (fault_sweep_posix.cpp, fault_sweep_win32.cpp)
// gives the hooks of its rows, its processes and its handles, through the
// functions declared here.
#pragma once

#include "platform/calls.h"

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <type_traits>

// The attributes of a system function (nonnull, __cdecl) are no part of its
// type: a template argument that names one loses nothing when they go.
#pragma GCC diagnostic ignored "-Wignored-attributes"

// --- The core's, for the hooks

/// An error a call is failed with: errno's number, or the last error's for
/// a LAST_ERROR row, and its name. SHORT_READ makes a read give one byte.
struct SweepError {
    long code;
    std::string name;
};
const long SHORT_READ = -1;

/// Counts a call of row while a run runs: the error to fail that call with,
/// or nullptr for a call that goes through.
const SweepError* sweep_strikes(size_t row);

/// How row fails (its CallFailure words).
unsigned sweep_how(size_t row);

/// Moves the sweep's clock, which time() reads, by ms: a pause of the run
/// takes no time.
void sweep_pause(int64_t ms);

/// Ends the test at once, naming the case that went wrong and how.
[[noreturn]] void sweep_give_up(const char* what);

/// A process of the test's own: its pid, and on Windows its handle.
struct Child {
    long pid = 0;
    void* handle = nullptr;
};

/// The stale instance the case has running, if any.
extern Child sweep_stale;

/// Sets the error of a failed call of a row of how where the row leaves it
/// (the platform's part).
void sweep_set_error(unsigned how, long code);

/// What a failed call of row returns, its error e set where the row says.
template <typename R>
R sweep_failed(size_t row, const SweepError& e)
{
    unsigned returns = sweep_how(row) & RETURNS;
    sweep_set_error(sweep_how(row), e.code);
    if constexpr (std::is_void<R>::value)
        return;
    else if constexpr (std::is_pointer<R>::value)
        return returns == MINUS_ONE ? (R)(intptr_t)-1 : nullptr;
    else
        return returns == ERROR_NUMBER ? (R)e.code : returns == MINUS_ONE ? (R)-1 : (R)0;
}

#define SWEEP_ORIGINAL(f) ((decltype(&::f))platform_calls[CALL_##f].original)

/// The hook of row I of type F: counts its calls, and fails the one the
/// case fails as its row says (a failed call of a LETS_GO row has let its
/// object go first). None for a type it cannot take, a function with "...":
/// a platform's part writes those out.
template <size_t I, typename F>
struct SweepHook {
    static SystemCallPtr pointer() { return nullptr; }
};
#define SWEEP_HOOK(CONVENTION)                                                  \
    template <size_t I, typename R, typename... A, bool E>                      \
    struct SweepHook<I, R(CONVENTION*)(A...) noexcept(E)> {                     \
        static R CONVENTION call(A... a) noexcept(E)                            \
        {                                                                       \
            auto original = (R(CONVENTION*)(A...))platform_calls[I].original;   \
            if (const SweepError* e = sweep_strikes(I)) {                       \
                if (sweep_how(I) & LETS_GO)                                     \
                    (void)original(a...);                                       \
                return sweep_failed<R>(I, *e);                                  \
            }                                                                   \
            return original(a...);                                              \
        }                                                                       \
        static SystemCallPtr pointer() { return (SystemCallPtr)&call; }         \
    };

SWEEP_HOOK()
#if defined(_WIN32) && !defined(_WIN64) // a second calling convention, WINAPI's
SWEEP_HOOK(WINAPI)
#endif

// A hook has its row's type (noexcept aside, which the C library adds).
#define SWEEP_SAME_TYPE(hook, f) \
    static_assert(std::is_convertible<decltype(&::f), decltype(&hook)>::value, "the hook of " #f " has its type")

// --- Each platform's part

/// Why the sweep cannot run here; "" when it can.
std::string sweep_unable();

/// While the sweep runs (on), the process's standard output and error go
/// to the null device, where the runs' children write, a crash names the
/// case, and on Linux the time zone is UTC; off puts them back.
void sweep_enter(bool on);

/// The hook this platform writes out for row, of the row's own type: for
/// a function with "...", or one whose hook does more than fail (the pauses,
/// a failed close); nullptr for none.
SystemCallPtr sweep_own_hook(size_t row);

/// The text a line that tells the failure of a row of how with error code
/// gives; the follow row failed too (PLATFORM_CALL_COUNT: none).
std::string sweep_reason(unsigned how, long code, size_t follow);

/// The rows no scenario reaches, and how many faults in a thousand may go
/// unmet, the run having gone otherwise before it (the process table may
/// change under the sweep).
extern const char* const SWEEP_UNREACHED[];
extern const size_t SWEEP_UNREACHED_COUNT;
extern const unsigned SWEEP_UNMET_PER_MILLE;

/// The row that ends a process, and a function of its type that ends
/// nothing and says it did.
extern const size_t SWEEP_END_ROW;
extern const SystemCallPtr SWEEP_ENDS_NOTHING;

/// Makes the directory path.
bool sweep_make_dir(const std::string& path);

/// Puts a program at path that does what the stand-in capture program
/// (tests/e2e/standin.cpp) does: a copy of it; on Linux the capture program
/// is a shell script that logs as it does, whose interpreter the check
/// reads too.
bool sweep_place_program(const std::string& path, bool capture);

/// A copy of the stand-in started by the test, which sleeps a day; whether
/// it runs (one that ended is reaped); ending it.
Child sweep_start_sleeper(const std::string& program);
bool sweep_runs(Child& child);
void sweep_end(Child& child);

/// Just before a run (its hooks in place), as main starts it where
/// as_main: the console set up first; argv[0..argc-1] are its arguments, as
/// its command line would give them (Windows reads the file argument from
/// there). Just after it: what a failed close left open is closed, as the
/// end of its process would; the text of what it left behind that it must
/// not (a capture program still running).
void sweep_before_run(bool as_main, int argc, const char* const* argv);
std::string sweep_after_run(bool as_main);

/// What the process holds open, to compare before and after a run ("" where
/// it cannot be told).
std::string sweep_open_objects();

/// Arms the alarm for a case that does not end: sweep_give_up after seconds
/// (0 disarms it).
void sweep_alarm(unsigned seconds);

/// Writes line on the test's own standard error and ends the test with status 1.
[[noreturn]] void sweep_exit(const char* line, size_t len);
