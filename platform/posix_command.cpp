// Starting a command on Linux. The command interpreter is built in: a
// command text is split into words by the Microsoft C runtime's rules and
// the program is started directly, never through a shell, so no file name is
// interpreted; "taskkill" is the built-in one (posix_processes.cpp).
#include "base/text.h"
#include "platform/cmdline.h"
#include "platform/platform.h"
#include "platform/posix.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

extern char** environ; // NOLINT(readability-redundant-declaration): POSIX declares it in no header

namespace {

const int STATUS_NOT_STARTED = 127;
const size_t WORD_STORE_CAP = 2048;
const int WORDS_CAP = 1024;

// Starts words[0] with words as its argv and waits for it: its exit status,
// 128 + the signal that ended it, 127 when the program cannot be started, or
// -1 when no process can be (each of the last two says why on standard error).
int spawn_and_wait(char** words)
{
    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0) {
        (void)fprintf(stderr, "cannot start '%s': %s\n", words[0], strerror(ENOMEM));
        return -1;
    }
    // The program starts with SIGPIPE at its default, though this one ignores it.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    pid_t child = 0;
    int err = posix_spawnattr_setsigdefault(&attr, &defaults);
    if (err == 0)
        err = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    if (err == 0)
        err = strchr(words[0], '/') ? posix_spawn(&child, words[0], nullptr, &attr, words, environ)
                                    : posix_spawnp(&child, words[0], nullptr, &attr, words, environ);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        (void)fprintf(stderr, "cannot start '%s': %s\n", words[0], strerror(err));
        // Out of processes or memory: nothing could have been started.
        return err == EAGAIN || err == ENOMEM ? -1 : STATUS_NOT_STARTED;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

int platform_run_command(const char* text)
{
    static char store[WORD_STORE_CAP];
    static char* words[WORDS_CAP];
    int n = cmdline_split(text, store, sizeof store, words, WORDS_CAP);
    if (n < 0)
        return -1;
    if (text_starts_any_case(words[0], "taskkill", true))
        return posix_taskkill(words, n);
    return spawn_and_wait(words);
}
