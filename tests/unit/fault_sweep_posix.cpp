// The Linux part of the fault sweep (fault_sweep.h): the hooks of the rows
// of platform/posix_calls.h, the test's processes (children it forks) and
// its descriptors. The sweep's runs end processes by image name, so it runs
// only in a process table of its own.
#include "fault_sweep.h"

#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

namespace {

// The capture programs the run started.
std::vector<pid_t> started;

// The two rows with "...", written out.
int hook_open(const char* path, int flags, ...)
{
    int mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    if (const SweepError* e = sweep_strikes(CALL_open))
        return sweep_failed<int>(CALL_open, *e);
    return SWEEP_ORIGINAL(open)(path, flags, mode);
}

int hook_fcntl(int fd, int cmd, ...)
{
    if (const SweepError* e = sweep_strikes(CALL_fcntl))
        return sweep_failed<int>(CALL_fcntl, *e);
    if (cmd == F_GETFD || cmd == F_GETFL)
        return SWEEP_ORIGINAL(fcntl)(fd, cmd);
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return SWEEP_ORIGINAL(fcntl)(fd, cmd, arg);
}

ssize_t hook_read(int fd, void* buf, size_t count)
{
    const SweepError* e = sweep_strikes(CALL_read);
    if (e && e->code != SHORT_READ)
        return sweep_failed<ssize_t>(CALL_read, *e);
    return SWEEP_ORIGINAL(read)(fd, buf, e && count > 1 ? 1 : count);
}

// A pause moves the sweep's clock; an interrupted one has slept nothing.
int hook_nanosleep(const struct timespec* pause, struct timespec* left)
{
    if (const SweepError* e = sweep_strikes(CALL_nanosleep)) {
        if (e->code == EINTR && left)
            *left = *pause;
        return sweep_failed<int>(CALL_nanosleep, *e);
    }
    sweep_pause((int64_t)pause->tv_sec * 1000 + pause->tv_nsec / 1000000);
    return 0;
}

// Waits, a bounded while, until the child pid has ended, leaving it to be
// reaped. True when it has.
bool ended_soon(pid_t pid)
{
    for (int ms = 0; ms < 3000; ms++) {
        siginfo_t info = {};
        if (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid)
            return true;
        usleep(1000);
    }
    return false;
}

// SIGKILL ends the stale instance before the run looks at the table again,
// as the real pause between the looks would let it.
int hook_kill(pid_t pid, int sig)
{
    if (const SweepError* e = sweep_strikes(CALL_kill))
        return sweep_failed<int>(CALL_kill, *e);
    int sent = SWEEP_ORIGINAL(kill)(pid, sig);
    if (sent == 0 && sig == SIGKILL && pid == sweep_stale.pid)
        (void)ended_soon(pid);
    return sent;
}

int hook_posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                     const posix_spawnattr_t* attr, char* const argv[], char* const envp[])
{
    if (const SweepError* e = sweep_strikes(CALL_posix_spawn))
        return sweep_failed<int>(CALL_posix_spawn, *e);
    int err = SWEEP_ORIGINAL(posix_spawn)(pid, path, actions, attr, argv, envp);
    if (err == 0)
        started.push_back(*pid);
    return err;
}

SWEEP_SAME_TYPE(hook_open, open);
SWEEP_SAME_TYPE(hook_fcntl, fcntl);
SWEEP_SAME_TYPE(hook_read, read);
SWEEP_SAME_TYPE(hook_nanosleep, nanosleep);
SWEEP_SAME_TYPE(hook_kill, kill);
SWEEP_SAME_TYPE(hook_posix_spawn, posix_spawn);

int ends_nothing(pid_t, int)
{
    return 0;
}
SWEEP_SAME_TYPE(ends_nothing, kill);

int saved_in = -1, saved_out = -1, saved_err = -1;
std::string saved_tz;
bool had_tz = false;

void on_alarm(int)
{
    sweep_give_up("this case did not end");
}

} // namespace

const char* const SWEEP_UNREACHED[] = {
    "dup2",         // only where opening /dev/null for a lower closed standard stream failed first
    "posix_spawnp", // the capture program's path always holds a directory
    "getcwd",       // the scenarios' output names are absolute
};
const size_t SWEEP_UNREACHED_COUNT = std::size(SWEEP_UNREACHED);
const unsigned SWEEP_UNMET_PER_MILLE = 0; // the process table is the test's alone
const size_t SWEEP_END_ROW = CALL_kill;
const SystemCallPtr SWEEP_ENDS_NOTHING = (SystemCallPtr)&ends_nothing;

SystemCallPtr sweep_own_hook(size_t row)
{
    switch (row) {
    case CALL_open: return (SystemCallPtr)&hook_open;
    case CALL_fcntl: return (SystemCallPtr)&hook_fcntl;
    case CALL_read: return (SystemCallPtr)&hook_read;
    case CALL_nanosleep: return (SystemCallPtr)&hook_nanosleep;
    case CALL_kill: return (SystemCallPtr)&hook_kill;
    case CALL_posix_spawn: return (SystemCallPtr)&hook_posix_spawn;
    default: return nullptr;
    }
}

void sweep_set_error(unsigned how, long code)
{
    if ((how & RETURNS) != ERROR_NUMBER)
        errno = (int)code;
}

std::string sweep_reason(unsigned, long code, size_t)
{
    return code == SHORT_READ ? "" : strerror((int)code);
}

// The sweep's runs end processes by image name (every zarnivek1.exe in the
// table): only in a process table of its own, as tests/isolated.sh makes
// one, where this test is the first process and /proc shows that table.
std::string sweep_unable()
{
    char self[32] = {};
    ssize_t n = readlink("/proc/self", self, sizeof self - 1);
    const char* marker = getenv("QB_ISOLATED");
    if (marker && strcmp(marker, "1") == 0 && getpid() == 1 && n == 1 && self[0] == '1')
        return "";
    return "it ends processes by image name: run it through tests/isolated.sh, which gives it a process table "
           "of its own";
}

void sweep_enter(bool on)
{
    fflush(stdout);
    fflush(stderr);
    if (on) {
        saved_in = dup(0);
        saved_out = dup(1);
        saved_err = dup(2);
        int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        dup2(null, 1);
        dup2(null, 2);
        close(null);
        struct sigaction alarm_action = {};
        alarm_action.sa_handler = on_alarm;
        sigaction(SIGALRM, &alarm_action, nullptr);
        const char* tz = getenv("TZ");
        had_tz = tz != nullptr;
        saved_tz = tz ? tz : "";
        setenv("TZ", "UTC", 1);
        tzset();
        return;
    }
    signal(SIGALRM, SIG_DFL);
    if (had_tz)
        setenv("TZ", saved_tz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    for (int* fd : {&saved_in, &saved_out, &saved_err}) {
        dup2(*fd, fd == &saved_in ? 0 : fd == &saved_out ? 1 : 2);
        close(*fd);
        *fd = -1;
    }
}

bool sweep_make_dir(const std::string& path)
{
    return mkdir(path.c_str(), 0755) == 0;
}

bool sweep_place_program(const std::string& path, bool capture)
{
    std::ifstream standin(QB_STANDIN, std::ios::binary);
    std::ofstream out(path, std::ios::binary);
    if (capture)
        out << "#!/bin/sh\n{ for a in \"$0\" \"$@\"; do printf '%s:%s' \"${#a}\" \"$a\"; done; printf '\\n'; }"
               " >>\"${0%/*}/calls.log\"\n";
    else
        out << standin.rdbuf();
    out.close();
    return standin && out && chmod(path.c_str(), 0755) == 0;
}

// The stand-in, its standard streams on /dev/null. A pipe closed on exec
// tells when it runs the program: before that, its image name is this test's.
Child sweep_start_sleeper(const std::string& program)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return Child{};
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; fd++)
            dup2(null, fd);
        setenv("STANDIN_SLEEP", "86400", 1);
        execl(program.c_str(), program.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(ready[1]);
    char c;
    while (pid > 0 && read(ready[0], &c, 1) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    return Child{pid > 0 ? pid : 0, nullptr};
}

bool sweep_runs(Child& child)
{
    siginfo_t info = {};
    if (child.pid <= 0)
        return false;
    if (waitid(P_PID, (id_t)child.pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0)
        return true;
    waitpid((pid_t)child.pid, nullptr, WNOHANG);
    child.pid = 0;
    return false;
}

void sweep_end(Child& child)
{
    if (sweep_runs(child)) {
        kill((pid_t)child.pid, SIGKILL);
        waitpid((pid_t)child.pid, nullptr, 0);
    }
    child.pid = 0;
}

// As main starts it: standard input closed, then the console set up, which
// opens /dev/null in its place.
void sweep_before_run(bool as_main, int, const char* const*)
{
    if (as_main) {
        close(0);
        platform_console_init();
    }
}

std::string sweep_after_run(bool as_main)
{
    if (as_main)
        dup2(saved_in, 0);
    std::string left;
    for (pid_t pid : started) {
        Child capture{pid, nullptr};
        if (sweep_runs(capture))
            left = "a capture program still ran when the run returned; ";
        sweep_end(capture);
    }
    started.clear();
    return left;
}

std::string sweep_open_objects()
{
    std::string fds;
    DIR* dir = opendir("/proc/self/fd");
    std::vector<int> all;
    for (struct dirent* e; dir && (e = readdir(dir));)
        if (e->d_name[0] != '.' && atoi(e->d_name) != dirfd(dir))
            all.push_back(atoi(e->d_name));
    if (dir)
        closedir(dir);
    std::sort(all.begin(), all.end());
    for (int fd : all)
        fds += std::to_string(fd) + " ";
    return fds;
}

void sweep_alarm(unsigned seconds)
{
    alarm(seconds);
}

void sweep_exit(const char* line, size_t len)
{
    (void)!write(saved_err >= 0 ? saved_err : 2, line, len);
    _exit(1);
}
