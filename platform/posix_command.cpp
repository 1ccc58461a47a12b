// Starting a command on Linux. The command interpreter is built in: a
// command text is split into words by the Microsoft C runtime's rules and
// the program is started directly, never through a shell, so no file name is
// interpreted.
#include "platform/calls.h"
#include "platform/cmdline.h"
#include "platform/posix.h"

#include <errno.h>
#include <string.h>

extern char** environ; // NOLINT(readability-redundant-declaration): POSIX declares it in no header

namespace {

const int STATUS_NOT_STARTED = 127;
const size_t WORD_STORE_CAP = 2048;
const int WORDS_CAP = 1024;
// How often a wait that fails otherwise than by an interruption is tried.
const int WAIT_TRIES = 3;

// The capture program while it runs, for the signal handler.
volatile sig_atomic_t running_child = 0;

void pass_on(int sig)
{
    int err = errno;
    if (running_child > 0)
        (void)SYS(kill)((pid_t)running_child, sig);
    errno = err;
}

// While a program runs: SIGTERM and SIGHUP sent to this run are passed on to
// it, and SIGINT and SIGQUIT are ignored, as system(3) does (a terminal
// sends them to the program too). Then the run waits for the program and
// gives its status, however it ended.
// The program starts with each of them at its default, and with SIGPIPE
// too, which this run ignores all along.
const struct {
    int sig;
    bool passed_on; // else ignored
} HANDLED[] = {{SIGTERM, true}, {SIGHUP, true}, {SIGINT, false}, {SIGQUIT, false}};
const int HANDLED_COUNT = (int)(sizeof HANDLED / sizeof HANDLED[0]);
typedef struct sigaction Handlers[HANDLED_COUNT];

void install(Handlers& saved)
{
    struct sigaction pass = {}, ignore = {};
    pass.sa_handler = pass_on;
    pass.sa_flags = SA_RESTART;
    sigemptyset(&pass.sa_mask);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int i = 0; i < HANDLED_COUNT; i++)
        (void)SYS(sigaction)(HANDLED[i].sig, HANDLED[i].passed_on ? &pass : &ignore, &saved[i]);
}

void restore(const Handlers& saved)
{
    for (int i = 0; i < HANDLED_COUNT; i++)
        (void)SYS(sigaction)(HANDLED[i].sig, &saved[i], nullptr);
}

// Sets up the start: every signal this run handles or ignores at its default
// in the program, the program's signal mask the one before the start, and
// the output name's reservation, if one is held, handed on to it (the same
// descriptors without close-on-exec). 0, or an error number.
int prepare(posix_spawnattr_t* attr, posix_spawn_file_actions_t* actions, const sigset_t& mask)
{
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    for (const auto& handled : HANDLED)
        sigaddset(&defaults, handled.sig);
    int err = SYS(posix_spawnattr_setsigdefault)(attr, &defaults);
    if (err == 0)
        err = SYS(posix_spawnattr_setsigmask)(attr, &mask);
    if (err == 0)
        err = SYS(posix_spawnattr_setflags)(attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    // Handed on only where that leaves the program a descriptor above them
    // to open its files with: under a limit as tight as `ulimit -n 4` it
    // could not even load its C library.
    struct rlimit files = {};
    bool limited = SYS(getrlimit)(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY;
    for (int i = 0; i < 2 && err == 0; i++) {
        int held = posix_held_reservation(i);
        if (held >= 0 && (!limited || (rlim_t)held + 2 <= files.rlim_cur))
            err = SYS(posix_spawn_file_actions_adddup2)(actions, held, held);
    }
    return err;
}

// Says on standard error why a program cannot be started.
void tell_error(const Platform& os, const char* program, int err)
{
    say(os.write_err, "cannot start '%.*s': %s\n", (int)QUOTE_MAX, program, strerror(err));
}

// Starts words[0] with words as its argv and waits for it: its exit status,
// 128 + the signal that ended it, 127 when the program cannot be started, or
// -1 when no process can be (each of the last two says why on standard error).
int spawn_and_wait(const Platform& os, char** words)
{
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    int err = SYS(posix_spawnattr_init)(&attr);
    if (err == 0 && (err = SYS(posix_spawn_file_actions_init)(&actions)) != 0)
        SYS(posix_spawnattr_destroy)(&attr);
    if (err != 0) {
        tell_error(os, words[0], err);
        return -1;
    }
    // SIGTERM and SIGHUP wait until the program's number is known.
    sigset_t blocked, mask;
    sigemptyset(&blocked);
    for (const auto& handled : HANDLED)
        if (handled.passed_on)
            sigaddset(&blocked, handled.sig);
    // Where they cannot be blocked, the mask is taken as empty, as a run's is.
    if (SYS(sigprocmask)(SIG_BLOCK, &blocked, &mask) != 0)
        sigemptyset(&mask);
    Handlers saved = {};
    install(saved);
    pid_t child = 0;
    err = prepare(&attr, &actions, mask);
    if (err == 0)
        err = strchr(words[0], '/') ? SYS(posix_spawn)(&child, words[0], &actions, &attr, words, environ)
                                    : SYS(posix_spawnp)(&child, words[0], &actions, &attr, words, environ);
    SYS(posix_spawn_file_actions_destroy)(&actions);
    SYS(posix_spawnattr_destroy)(&attr);
    int status = 0;
    pid_t waited = -1;
    if (err == 0) {
        running_child = child;
        (void)SYS(sigprocmask)(SIG_SETMASK, &mask, nullptr);
        // Interrupted, or failed for a reason that may pass: it waits again.
        for (int tries = 0; (waited = SYS(waitpid)(child, &status, 0)) < 0 && errno != ECHILD;)
            if (errno != EINTR && ++tries == WAIT_TRIES)
                break;
        // A signal that comes now finds no program to pass it on to: the run
        // ends with the program's status all the same.
        running_child = 0;
    }
    (void)SYS(sigprocmask)(SIG_SETMASK, &mask, nullptr);
    restore(saved);
    if (err != 0) {
        tell_error(os, words[0], err);
        // Out of processes or memory: nothing could have been started.
        return err == EAGAIN || err == ENOMEM ? -1 : STATUS_NOT_STARTED;
    }
    if (waited < 0)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

int posix_run_command(const Platform& os, const char* text)
{
    static char store[WORD_STORE_CAP];
    static char* words[WORDS_CAP];
    if (cmdline_split(text, store, sizeof store, words, WORDS_CAP) < 0)
        return -1;
    return spawn_and_wait(os, words);
}
