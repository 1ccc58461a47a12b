// The rows of the Linux fault table: every C library call the Linux
// platform files make that reaches the system, one a line, each with how it
// says that it failed (CallFailure, platform/calls.h; MINUS_ONE for signal
// is SIG_ERR). A failing call is failed with EIO, ENOMEM, EMFILE and EACCES
// in turn, and with EINTR where it is INTERRUPTIBLE.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define PLATFORM_CALLS(X)                                       \
    X(open, MINUS_ONE | INTERRUPTIBLE)                          \
    X(read, MINUS_ONE | INTERRUPTIBLE | SHORT_READS)            \
    X(close, MINUS_ONE | INTERRUPTIBLE | LETS_GO)               \
    X(fcntl, MINUS_ONE)                                         \
    X(dup2, MINUS_ONE | INTERRUPTIBLE)                          \
    X(isatty, ZERO)                                             \
    X(setvbuf, MINUS_ONE)                                       \
    X(fwrite, ZERO | INTERRUPTIBLE | TEXT_ONLY)                 \
    X(signal, MINUS_ONE)                                        \
    X(readlink, MINUS_ONE)                                      \
    X(getcwd, ZERO)                                             \
    X(getenv, ZERO)                                             \
    X(tzset, NEVER_FAILS)                                       \
    X(time, MINUS_ONE | CLOCK_READING)                          \
    X(localtime_r, ZERO | CLOCK_READING)                        \
    X(gmtime_r, ZERO | CLOCK_READING)                           \
    X(strftime, ZERO | TEXT_ONLY)                               \
    X(nanosleep, MINUS_ONE | INTERRUPTIBLE)                     \
    X(lstat, MINUS_ONE)                                         \
    X(stat, MINUS_ONE)                                          \
    X(fstat, MINUS_ONE)                                         \
    X(access, MINUS_ONE)                                        \
    X(opendir, ZERO)                                            \
    X(readdir, ZERO)                                            \
    X(closedir, MINUS_ONE | LETS_GO)                            \
    X(getpid, NEVER_FAILS)                                      \
    X(kill, MINUS_ONE | INTERRUPTIBLE)                          \
    X(socket, MINUS_ONE)                                        \
    X(bind, MINUS_ONE)                                          \
    X(getrlimit, MINUS_ONE)                                     \
    X(sigprocmask, MINUS_ONE)                                   \
    X(sigaction, MINUS_ONE)                                     \
    X(posix_spawnattr_init, ERROR_NUMBER)                       \
    X(posix_spawnattr_destroy, ERROR_NUMBER | LETS_GO)          \
    X(posix_spawnattr_setsigdefault, ERROR_NUMBER)              \
    X(posix_spawnattr_setsigmask, ERROR_NUMBER)                 \
    X(posix_spawnattr_setflags, ERROR_NUMBER)                   \
    X(posix_spawn_file_actions_init, ERROR_NUMBER)              \
    X(posix_spawn_file_actions_destroy, ERROR_NUMBER | LETS_GO) \
    X(posix_spawn_file_actions_adddup2, ERROR_NUMBER)           \
    X(posix_spawn, ERROR_NUMBER)                                \
    X(posix_spawnp, ERROR_NUMBER)                               \
    X(waitpid, MINUS_ONE | INTERRUPTIBLE)
