// The rows of the Linux fault table: every C library call the Linux
// platform files make that reaches the system, one a line.
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

#define PLATFORM_CALLS(X)                 \
    X(open)                               \
    X(read)                               \
    X(close)                              \
    X(fcntl)                              \
    X(dup2)                               \
    X(isatty)                             \
    X(setvbuf)                            \
    X(fwrite)                             \
    X(signal)                             \
    X(readlink)                           \
    X(getcwd)                             \
    X(getenv)                             \
    X(tzset)                              \
    X(time)                               \
    X(localtime_r)                        \
    X(gmtime_r)                           \
    X(strftime)                           \
    X(nanosleep)                          \
    X(lstat)                              \
    X(stat)                               \
    X(fstat)                              \
    X(access)                             \
    X(opendir)                            \
    X(readdir)                            \
    X(closedir)                           \
    X(getpid)                             \
    X(kill)                               \
    X(socket)                             \
    X(bind)                               \
    X(getrlimit)                          \
    X(sigprocmask)                        \
    X(sigaction)                          \
    X(posix_spawnattr_init)               \
    X(posix_spawnattr_destroy)            \
    X(posix_spawnattr_setsigdefault)      \
    X(posix_spawnattr_setsigmask)         \
    X(posix_spawnattr_setflags)           \
    X(posix_spawn_file_actions_init)      \
    X(posix_spawn_file_actions_destroy)   \
    X(posix_spawn_file_actions_adddup2)   \
    X(posix_spawn)                        \
    X(posix_spawnp)                       \
    X(waitpid)
