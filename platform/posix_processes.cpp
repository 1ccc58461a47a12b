// The process table on Linux (/proc): whether a capture program runs, and
// ending it. An image name is a process's comm (at most 15 characters),
// compared byte for byte: on Linux 'zarnivekA.exe' and 'zarniveka.exe' are
// different program files.
#include "platform/calls.h"
#include "platform/posix.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// "/proc/<pid>/<name>": a long has at most 20 digits and a sign.
const size_t PROC_PATH_CAP = 64;
static_assert(sizeof "/proc/" - 1 + 21 + sizeof "/comm" <= PROC_PATH_CAP, "a /proc path always fits");
const size_t COMM_CAP = 64;       // a process's image name: at most 15 characters and a line feed
const size_t STAT_HEAD_CAP = 512; // the head of /proc/<pid>/stat, up to its state and well beyond
// After SIGKILL, how often and how long apart the table is read again
// until none of the name runs: a second at most.
const int RECHECKS = 20;
const unsigned RECHECK_MS = 50;

// The processes one look ended, by number: the first ENDED_KEPT of them.
const int ENDED_KEPT = 64;

// What a look over the process table found of one image name.
struct Scan {
    int found;       // processes found that this user may end (and, with end, did)
    int not_endable; // processes found that this user may not end
    int denied;      // why not: the error number of the first
    int unknown;     // the error number that kept an entry from being read; 0: none
    long ended[ENDED_KEPT]; // with end: the numbers of those it ended
};

void proc_path(char (&out)[PROC_PATH_CAP], long pid, const char* name)
{
    (void)snprintf(out, sizeof out, "/proc/%ld/%s", pid, name); // fits: see PROC_PATH_CAP
}

// Reads the start of /proc/<pid>/<name> into out, NUL-terminated: the count
// of bytes read, or -1 with errno set. An interrupted call is made again,
// and a read that gives less than asked is followed by another: a name read
// in part would be another name.
ssize_t proc_read(long pid, const char* name, char* out, size_t out_cap)
{
    char path[PROC_PATH_CAP];
    proc_path(path, pid, name);
    int fd = posix_open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    long n = posix_read_all(fd, out, out_cap);
    int err = errno;
    (void)SYS(close)(fd);
    errno = err;
    return n;
}

// An error that says the process is gone, not that its entry cannot be read.
bool gone(int err)
{
    return err == ENOENT || err == ESRCH;
}

// False for an entry of /proc that runs no program of its own: a kernel
// thread, a zombie, or a process already gone have no program file. A link
// hidden from us (another user's process) or one that cannot be read still
// counts. Most entries are kernel threads, and one readlink is far cheaper
// than opening and reading a file of /proc, so the scan asks this first.
bool runs_program(long pid)
{
    char path[PROC_PATH_CAP];
    proc_path(path, pid, "exe");
    char target[1];
    return SYS(readlink)(path, target, sizeof target) >= 0 || errno != ENOENT;
}

// Whether process pid runs a program of the image name, and is alive: not
// gone, and not a zombie, which takes a signal without complaint but has
// nothing left to end. 1 yes, 0 no, -1 (errno set) when it cannot be told.
int runs_image(long pid, const char* image)
{
    char comm[COMM_CAP];
    ssize_t n = proc_read(pid, "comm", comm, sizeof comm);
    if (n < 0)
        return gone(errno) ? 0 : -1;
    if (n > 0 && comm[n - 1] == '\n')
        comm[n - 1] = '\0';
    if (strcmp(comm, image) != 0)
        return 0;
    char stat[STAT_HEAD_CAP];
    if (proc_read(pid, "stat", stat, sizeof stat) < 0)
        return gone(errno) ? 0 : -1;
    // "<pid> (<comm>) <state> ...": comm may itself hold ')', so take the last.
    const char* close_paren = strrchr(stat, ')');
    return close_paren && close_paren[1] == ' ' && close_paren[2] != 'Z' && close_paren[2] != 'X';
}

// Sends sig to pid, again when interrupted: 0, or -1 with errno set.
int send(long pid, int sig)
{
    int sent = -1;
    while ((sent = SYS(kill)((pid_t)pid, sig)) != 0 && errno == EINTR) {
    }
    return sent;
}

// Whether pid is one of those the look `ended` ended; with more than it
// kept, any process of the name may be.
bool was_ended(const Scan& ended, long pid)
{
    for (int i = 0; i < ended.found && i < ENDED_KEPT; i++)
        if (ended.ended[i] == pid)
            return true;
    return ended.found > ENDED_KEPT;
}

// Sends sig to pid, a process of the image name, and counts it in *s: found
// (and its number kept), or not endable (the first reason kept), or gone.
void signal_one(Scan* s, long pid, int sig)
{
    if (send(pid, sig) == 0) {
        if (s->found < ENDED_KEPT)
            s->ended[s->found] = pid;
        s->found++;
    } else if (!gone(errno)) {
        if (!s->not_endable)
            s->denied = errno;
        s->not_endable++;
    }
}

// Looks at every other process of the image name and, with end, sends it
// SIGKILL (without, signal 0 asks whether it could be ended). With only,
// it looks at no process but those the look `only` ended.
Scan scan(const char* image, bool end, const Scan* only = nullptr)
{
    Scan s = {};
    DIR* proc = SYS(opendir)("/proc");
    if (!proc) {
        s.unknown = errno;
        return s;
    }
    pid_t self = SYS(getpid)();
    for (;;) {
        errno = 0;
        struct dirent* entry = SYS(readdir)(proc);
        if (!entry) {
            if (errno != 0)
                s.unknown = errno;
            break;
        }
        char* rest = nullptr;
        long pid = strtol(entry->d_name, &rest, 10);
        if (*rest != '\0' || pid <= 0 || pid == self || (only && !was_ended(*only, pid)) || !runs_program(pid))
            continue;
        int runs = runs_image(pid, image);
        if (runs < 0 && !s.unknown)
            s.unknown = errno;
        if (runs > 0)
            signal_one(&s, pid, end ? SIGKILL : 0);
    }
    (void)SYS(closedir)(proc);
    return s;
}

// A table that hides other users' processes (/proc mounted hidepid=1 or 2)
// cannot tell whether another user runs one.
bool hides_others(int* err)
{
    char status[COMM_CAP];
    // PID 1 belongs to the system: a table that shows every process shows it.
    if (proc_read(1, "comm", status, sizeof status) >= 0 || !gone(errno))
        return false;
    *err = EACCES;
    return true;
}

} // namespace

ImageState posix_image_state(const char* image, char* why, size_t why_cap)
{
    Scan s = scan(image, false);
    if (s.not_endable) {
        posix_error_text(s.denied, why, why_cap);
        return IMAGE_NOT_ENDABLE;
    }
    if (s.unknown || (!s.found && hides_others(&s.unknown))) {
        posix_error_text(s.unknown, why, why_cap);
        return IMAGE_UNKNOWN;
    }
    return s.found ? IMAGE_RUNNING : IMAGE_NOT_RUNNING;
}

StopResult posix_end_image(const char* image, int* ended, char* why, size_t why_cap)
{
    Scan first = scan(image, true), s = first;
    *ended = first.found;
    // What was ended must be gone from the table: it is read again, for
    // those processes alone, until none of them runs, for a second at most.
    // (One of the name started meanwhile is a new one: the caller looks.)
    for (int i = 0; s.found && !s.not_endable && !s.unknown && i < RECHECKS; i++) {
        s = scan(image, false, &first);
        if (s.found)
            posix_sleep_ms(RECHECK_MS);
    }
    if (s.not_endable) {
        posix_error_text(s.denied, why, why_cap);
        return STOP_NOT_ALL_ENDED;
    }
    if (s.unknown || (!*ended && hides_others(&s.unknown))) {
        posix_error_text(s.unknown, why, why_cap);
        return STOP_CANNOT_TELL;
    }
    if (s.found) {
        // As many as still run were not ended, as far as anyone can tell.
        *ended = *ended > s.found ? *ended - s.found : 0;
        (void)snprintf(why, why_cap, "it still runs after SIGKILL");
        return STOP_NOT_ALL_ENDED;
    }
    return *ended ? STOP_ENDED : STOP_NONE;
}
