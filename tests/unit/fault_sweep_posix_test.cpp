// The fault sweep of the Linux platform layer. Every row of the fault table
// (platform/posix_calls.h) gets a hook of its own type that counts its calls
// and, when told, fails the Nth one with a chosen error (or, for read, reads
// one byte of what was asked). Each scenario is run once clean, then once
// for each call it made of each row and each error that call can meet; after
// every case the sweep checks what must hold under any single fault. The
// scenarios run the whole program (launcher_run with the system's own table,
// only the program directory replaced) against real files and real child
// processes, on a clock of the sweep's own that its pauses move.
//
// One case, or a part of the sweep, with its outcome printed:
//   QB_FAULT_CASE=<scenario>[:<row>[:<call>[:<error>]]]   e.g. window:read:3:EIO
#include "launcher/program.h"
#include "platform/faults.h"
#include "platform/posix_calls.h"
#include "platform/reservation_key.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// --- The rows and what a failed call of each gives back

#define SWEEP_ROW_INDEX(f) ROW_##f,
enum Row { PLATFORM_CALLS(SWEEP_ROW_INDEX) ROW_COUNT };
#undef SWEEP_ROW_INDEX

enum Gives {
    MINUS_ONE,    // -1, errno set
    ERROR_NUMBER, // the error number itself, errno untouched (the posix_spawn family)
    ZERO,         // 0, errno set (fwrite, strftime, isatty)
    NO_POINTER,   // nullptr, errno set
    SIGNAL_ERROR, // SIG_ERR
    CANNOT_FAIL,  // counted, never failed
};

struct Rule {
    const char* row;
    Gives gives;
    bool interruptible; // a signal can cut it short: EINTR is swept too
    bool text_only;     // its failure may lose text on the console, nothing else
    bool releases;      // failed, it has let its object go all the same (Linux's close)
};

const Rule RULES[] = {
    {"open", MINUS_ONE, true, false, false},
    {"read", MINUS_ONE, true, false, false},
    {"close", MINUS_ONE, true, false, true},
    {"fcntl", MINUS_ONE, false, false, false},
    {"dup2", MINUS_ONE, true, false, false},
    {"isatty", ZERO, false, false, false},
    {"setvbuf", MINUS_ONE, false, false, false},
    {"fwrite", ZERO, true, true, false},
    {"signal", SIGNAL_ERROR, false, false, false},
    {"readlink", MINUS_ONE, false, false, false},
    {"getcwd", NO_POINTER, false, false, false},
    {"getenv", NO_POINTER, false, false, false},
    {"tzset", CANNOT_FAIL, false, false, false},
    {"time", MINUS_ONE, false, false, false},
    {"localtime_r", NO_POINTER, false, false, false},
    {"gmtime_r", NO_POINTER, false, false, false},
    {"strftime", ZERO, false, true, false}, // the zone's name in the check's report
    {"nanosleep", MINUS_ONE, true, false, false},
    {"lstat", MINUS_ONE, false, false, false},
    {"stat", MINUS_ONE, false, false, false},
    {"fstat", MINUS_ONE, false, false, false},
    {"access", MINUS_ONE, false, false, false},
    {"opendir", NO_POINTER, false, false, false},
    {"readdir", NO_POINTER, false, false, false},
    {"closedir", MINUS_ONE, false, false, true},
    {"getpid", CANNOT_FAIL, false, false, false},
    {"kill", MINUS_ONE, true, false, false},
    {"socket", MINUS_ONE, false, false, false},
    {"bind", MINUS_ONE, false, false, false},
    {"getrlimit", MINUS_ONE, false, false, false},
    {"sigprocmask", MINUS_ONE, false, false, false},
    {"sigaction", MINUS_ONE, false, false, false},
    {"posix_spawnattr_init", ERROR_NUMBER, false, false, false},
    {"posix_spawnattr_destroy", ERROR_NUMBER, false, false, true},
    {"posix_spawnattr_setsigdefault", ERROR_NUMBER, false, false, false},
    {"posix_spawnattr_setsigmask", ERROR_NUMBER, false, false, false},
    {"posix_spawnattr_setflags", ERROR_NUMBER, false, false, false},
    {"posix_spawn_file_actions_init", ERROR_NUMBER, false, false, false},
    {"posix_spawn_file_actions_destroy", ERROR_NUMBER, false, false, true},
    {"posix_spawn_file_actions_adddup2", ERROR_NUMBER, false, false, false},
    {"posix_spawn", ERROR_NUMBER, false, false, false},
    {"posix_spawnp", ERROR_NUMBER, false, false, false},
    {"waitpid", MINUS_ONE, true, false, false},
};

// The errors a call is made to fail with; 0 stands for a short read (one byte).
const int SHORT_READ = 0;
struct Error {
    const char* name;
    int err;
};
const Error ERRORS[] = {{"EIO", EIO},     {"ENOMEM", ENOMEM}, {"EMFILE", EMFILE},
                        {"EACCES", EACCES}, {"EINTR", EINTR},   {"short", SHORT_READ}};

bool applies(const Rule& rule, const Error& e)
{
    if (rule.gives == CANNOT_FAIL)
        return false;
    if (e.err == EINTR)
        return rule.interruptible;
    if (e.err == SHORT_READ)
        return strcmp(rule.row, "read") == 0;
    return true;
}

// --- The hooks

struct RowState {
    const Rule* rule;
    SystemCallPtr original;
    unsigned calls;   // since the case began
    unsigned fail_at; // the call (1, 2, ...) that fails; 0: none
    int err;
    bool made; // that call came
};
RowState rows[ROW_COUNT];

// Counts a call of row i: true when it is the one that fails.
bool strikes(int i)
{
    RowState& s = rows[i];
    if (++s.calls != s.fail_at)
        return false;
    s.made = true;
    return true;
}

template <typename R>
R failed(int i)
{
    const RowState& s = rows[i];
    if (s.rule->gives != ERROR_NUMBER)
        errno = s.err;
    if constexpr (std::is_void<R>::value) {
        return;
    } else if constexpr (std::is_same<R, decltype(SIG_ERR)>::value) {
        return SIG_ERR;
    } else if constexpr (std::is_pointer<R>::value) {
        return nullptr;
    } else {
        return s.rule->gives == ERROR_NUMBER ? (R)s.err : s.rule->gives == ZERO ? (R)0 : (R)-1;
    }
}

// The sweep's clock, in milliseconds since 1970: time() reads it and
// nanosleep() moves it, so a wait of seconds takes none.
int64_t clock_ms = 0;

time_t virtual_time(time_t* t)
{
    time_t now = (time_t)(clock_ms / 1000);
    if (t)
        *t = now;
    return now;
}

int virtual_sleep(const struct timespec* pause, struct timespec*)
{
    clock_ms += (int64_t)pause->tv_sec * 1000 + pause->tv_nsec / 1000000;
    return 0;
}

// An interrupted pause has slept nothing: all of it is left.
void nothing_slept(const struct timespec* pause, struct timespec* left)
{
    if (left)
        *left = *pause;
}

ssize_t short_read(int fd, void* buf, size_t count)
{
    return ((decltype(&::read))rows[ROW_read].original)(fd, buf, count < 1 ? count : 1);
}

// The stale instance of the case, the programs the run started, and when
// (on the sweep's clock) it started the first.
pid_t stale_pid = -1;
std::vector<pid_t> started;
int64_t started_ms = -1;

// Waits, a bounded while, until the child pid of this test has ended,
// leaving it to be reaped. True when it has.
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
int kill_and_see(pid_t pid, int sig)
{
    int sent = ((decltype(&::kill))rows[ROW_kill].original)(pid, sig);
    if (sent == 0 && sig == SIGKILL && pid == stale_pid)
        (void)ended_soon(pid);
    return sent;
}

int spawn_and_note(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                   const posix_spawnattr_t* attr, char* const argv[], char* const envp[])
{
    int err = ((decltype(&::posix_spawn))rows[ROW_posix_spawn].original)(pid, path, actions, attr, argv, envp);
    if (err == 0 && started.empty())
        started_ms = clock_ms;
    if (err == 0)
        started.push_back(*pid);
    return err;
}

template <int I, typename R, typename... A>
struct Hook {
    static R call(A... a)
    {
        bool strike = strikes(I);
        if (strike && rows[I].err != SHORT_READ) {
            if constexpr (I == ROW_nanosleep)
                if (rows[I].err == EINTR)
                    nothing_slept(a...);
            // What a failed close or destroy lets go is let go all the same.
            if (rows[I].rule->releases)
                (void)((R(*)(A...))rows[I].original)(a...);
            return failed<R>(I);
        }
        if constexpr (I == ROW_time)
            return virtual_time(a...);
        else if constexpr (I == ROW_nanosleep)
            return virtual_sleep(a...);
        else if constexpr (I == ROW_read)
            return strike ? short_read(a...) : ((R(*)(A...))rows[I].original)(a...); // the short read
        else if constexpr (I == ROW_kill)
            return kill_and_see(a...);
        else if constexpr (I == ROW_posix_spawn)
            return spawn_and_note(a...);
        else
            return ((R(*)(A...))rows[I].original)(a...);
    }
};

// The two variadic rows, by hand.
int hook_open(const char* path, int flags, ...)
{
    int mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, int);
        va_end(ap);
    }
    if (strikes(ROW_open))
        return failed<int>(ROW_open);
    return ((decltype(&::open))rows[ROW_open].original)(path, flags, mode);
}

int hook_fcntl(int fd, int cmd, ...)
{
    if (strikes(ROW_fcntl))
        return failed<int>(ROW_fcntl);
    auto original = (decltype(&::fcntl))rows[ROW_fcntl].original;
    if (cmd == F_GETFD || cmd == F_GETFL)
        return original(fd, cmd);
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return original(fd, cmd, arg);
}

template <int I, typename R, typename... A>
SystemCallPtr hook_for(R (*)(A...))
{
    return (SystemCallPtr)&Hook<I, R, A...>::call;
}

// A new variadic row needs a hook by hand: none is a failure of the sweep.
template <int I, typename R, typename... A>
SystemCallPtr hook_for(R (*)(A..., ...))
{
    return I == ROW_open ? (SystemCallPtr)&hook_open : I == ROW_fcntl ? (SystemCallPtr)&hook_fcntl : nullptr;
}

struct HookRow {
    const char* name;
    SystemCallPtr hook;
};
#define SWEEP_HOOK(f) {#f, hook_for<ROW_##f>(&::f)},
const HookRow HOOKS[] = {PLATFORM_CALLS(SWEEP_HOOK)};
#undef SWEEP_HOOK

// Fills rows from the fault table: false, with why, for a row the sweep
// does not know (no rule, no hook) or one it knows that the table lacks.
bool know_rows(std::string* why)
{
    size_t n = 0;
    for (; faults_row(n); n++) {
        const char* name = faults_row(n);
        if (n >= ROW_COUNT || strcmp(HOOKS[n].name, name) != 0) {
            *why = std::string("row ") + name + " is not where posix_calls.h puts it";
            return false;
        }
        rows[n] = RowState{};
        rows[n].original = faults_original(name);
        for (const Rule& rule : RULES)
            if (strcmp(rule.row, name) == 0)
                rows[n].rule = &rule;
        if (!rows[n].rule || !HOOKS[n].hook) {
            *why = std::string("row ") + name + " has no " + (rows[n].rule ? "hook: write one by hand" : "rule in RULES");
            return false;
        }
    }
    if (n != ROW_COUNT)
        *why = "the fault table has " + std::to_string(n) + " rows, posix_calls.h " + std::to_string(ROW_COUNT);
    return n == ROW_COUNT;
}

void hook_every_row()
{
    for (size_t i = 0; i < ROW_COUNT; i++)
        faults_set(HOOKS[i].name, HOOKS[i].hook);
}

void restore_every_row()
{
    for (size_t i = 0; i < ROW_COUNT; i++)
        faults_set(HOOKS[i].name, nullptr);
}

// --- Processes

// The sweep's runs end processes by image name (every zarnivek1.exe in the
// table): only in a process table of its own, as tests/isolated.sh makes
// one, where this test is the first process and /proc shows that table.
bool private_process_table(std::string* why)
{
    char self[32] = {};
    ssize_t n = readlink("/proc/self", self, sizeof self - 1);
    const char* marker = getenv("QB_ISOLATED");
    if (marker && strcmp(marker, "1") == 0 && getpid() == 1 && n == 1 && self[0] == '1')
        return true;
    *why = "it ends processes by image name: run it through tests/isolated.sh, which gives it a process table "
           "of its own";
    return false;
}

// A child of this test named name, which pauses until it is ended.
pid_t start_named(const char* name)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_NAME, name);
        if (write(ready[1], "r", 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    close(ready[1]);
    char c = 0;
    if (pid > 0 && read(ready[0], &c, 1) != 1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    close(ready[0]);
    return pid;
}

// The descriptors this process holds open.
std::vector<int> descriptors()
{
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    for (struct dirent* e; dir && (e = readdir(dir));)
        if (e->d_name[0] != '.' && atoi(e->d_name) != dirfd(dir))
            fds.push_back(atoi(e->d_name));
    if (dir)
        closedir(dir);
    std::sort(fds.begin(), fds.end());
    return fds;
}

bool runs(pid_t pid)
{
    siginfo_t info = {};
    return waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

// Ends a child of this test and reaps it: the signal that had ended it
// before, 0 when it had exited, -1 when it still ran.
int reap(pid_t pid)
{
    int status = 0;
    bool ran = runs(pid);
    if (ran)
        kill(pid, SIGKILL);
    if (!ran && !ended_soon(pid))
        return -1;
    if (waitpid(pid, &status, 0) != pid)
        return -2;
    return ran ? -1 : WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// --- The scenarios

const char SETTINGS[] = "I1\n@400,401\n";
const char STOP_TAIL[] = " \x82\xF0\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";
// 2024-03-01 20:59:37 UTC: the window 21:00-21:30 launches at 20:59:40.
const int64_t START_MS = 1709326777LL * 1000;

struct Scenario {
    const char* name;
    std::vector<std::string> args; // after the program's name; "$D" stands for the program directory
    bool stale;                    // a stale zarnivek1.exe runs
    bool check;
    bool starts;                   // as main starts it: the console set up first, standard input closed
    // The clean run: its status, the capture program's line ("" none), and
    // lines its output holds.
    int status;
    std::string log;
    std::vector<std::string> out;
};

const Scenario SCENARIOS[] = {
    {"window",
     {"$Dwin.ts", "@400", "21:00-21:30", "I2"},
     true,
     false,
     false,
     0,
     "$Dzarnivek1.exe $Dwin.ts @401 21:00:00-21:30:00",
     {std::string("zarnivek1.exe") + STOP_TAIL, "$Dzarnivek1.exe \"$Dwin.ts\" @401 21:00:00-21:30:00"}},
    // rec.ts exists, and rec(1).ts is held by another run (this test).
    {"taken",
     {"$Drec.ts", "@400", "2100", "I2"},
     false,
     false,
     false,
     0,
     "$Dzarnivek1.exe $Drec(2).ts @401 2100",
     {"$Dzarnivek1.exe \"$Drec(2).ts\" @401 2100"}},
    {"stop", {"stop", "I2"}, true, false, true, 1, "", {std::string("zarnivek1.exe") + STOP_TAIL}},
    {"check",
     {"--check", "$Dwin.ts", "@400", "21:00-21:30", "I2"},
     true,
     true,
     false,
     0,
     "",
     {"instance number 1: image name zarnivek1.exe, which runs now: a run would end it at its launch moment",
      "source id: 401 (the argument gave 400)", "capture program: $Dzarnivek1.exe",
      "local time: 20:59:37 UTC (+0000)", "launch: today at 20:59:40, in 0 h 0 min 3 s",
      "output name: $Dwin.ts", "output directory: $D"}},
};

std::string with_dir(std::string text, const std::string& dir)
{
    for (size_t at; (at = text.find("$D")) != std::string::npos;)
        text.replace(at, 2, dir);
    return text;
}

// What one case left behind.
struct Outcome {
    int status = 0;
    std::vector<std::string> out; // standard output's lines, progress lines taken out
    std::vector<std::string> err; // standard error's
    std::vector<std::string> log; // the capture programs' lines
    bool stale_ended = false;     // the run ended the stale instance
    int64_t started_ms = -1;      // when the capture program started, on the sweep's clock
    std::string broken;           // what the case did to processes it must not touch
    bool made = false;            // the failing call came
    std::string text;             // everything, for a report
};

std::string contents(int fd)
{
    std::string text;
    char buf[4096];
    off_t at = 0;
    for (ssize_t n; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n)
        text.append(buf, (size_t)n);
    return text;
}

std::vector<std::string> lines(const std::string& text, bool progress)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t cr = progress ? line.rfind('\r') : std::string::npos;
        if (cr != std::string::npos)
            line.erase(0, cr + 1); // the progress lines before it
        if (!line.empty() || !progress)
            all.push_back(line);
    }
    return all;
}

class Sweep {
public:
    std::string dir;
    std::string failure; // why the sweep cannot run

    Sweep()
    {
        dir = temp_dir_make();
        if (dir.empty()) {
            failure = "no temporary directory";
            return;
        }
        log_path = dir + "capture.log";
        write_file(dir + "quellatorbin.ini", SETTINGS);
        write_file(dir + "zarnivek1.exe", "#!/bin/sh\necho \"$0 $*\" >>'" + log_path + "'\nexit 0\n");
        chmod((dir + "zarnivek1.exe").c_str(), 0755);
        write_file(dir + "rec.ts", "");
        for (const char* name : {"zarnivek.exe", "zarnivek2.exe"})
            decoys.push_back({name, start_named(name)});
        out_fd = open((dir + "out").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        err_fd = open((dir + "err").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        saved_in = dup(0);
        saved_out = dup(1);
        saved_err = dup(2);
        const char* tz = getenv("TZ");
        saved_tz = tz ? tz : "";
        had_tz = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
        if (!hold(dir + "rec(1).ts"))
            failure = "cannot hold the reservation of rec(1).ts";
        for (const Decoy& d : decoys)
            if (d.pid <= 0)
                failure = "cannot start the decoys";
        if (out_fd < 0 || err_fd < 0 || saved_in < 0 || saved_out < 0 || saved_err < 0)
            failure = "cannot redirect the output";
    }

    ~Sweep()
    {
        if (held >= 0)
            close(held);
        for (const Decoy& d : decoys)
            if (d.pid > 0)
                reap(d.pid);
        for (int fd : {out_fd, err_fd, saved_in, saved_out, saved_err})
            if (fd >= 0)
                close(fd);
        for (const char* name : {"quellatorbin.ini", "zarnivek1.exe", "rec.ts", "capture.log", "out", "err"})
            temp_remove_file(dir + name);
        temp_remove_dir(dir);
        if (had_tz)
            setenv("TZ", saved_tz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    // Runs the scenario with call `at` of row `row` failing with err (row -1: none).
    Outcome run(const Scenario& s, int row, unsigned at, int err)
    {
        Outcome o;
        stale_pid = s.stale ? start_named("zarnivek1.exe") : -1;
        started.clear();
        started_ms = -1;
        for (RowState& r : rows) {
            r.calls = r.fail_at = 0;
            r.made = false;
        }
        if (row >= 0) {
            rows[row].fail_at = at;
            rows[row].err = err;
        }
        clock_ms = START_MS;
        std::vector<std::string> args = {"quellatorbin"};
        for (const std::string& a : s.args)
            args.push_back(with_dir(a, dir));
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        for (int fd : {out_fd, err_fd}) {
            (void)!ftruncate(fd, 0);
            lseek(fd, 0, SEEK_SET);
        }
        (void)!truncate(log_path.c_str(), 0);
        std::vector<int> open_before = descriptors();
        Platform os = platform_os;
        os.program_dir = program_dir;
        program_dir_text = dir;

        fflush(stdout);
        fflush(stderr);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        if (s.starts)
            close(0);
        hook_every_row();
        if (s.starts)
            platform_console_init();
        o.status = launcher_run((int)argv.size(), argv.data(), os);
        restore_every_row();
        fflush(stdout);
        fflush(stderr);
        dup2(saved_out, 1);
        dup2(saved_err, 2);
        dup2(saved_in, 0);
        platform_os.release_name();

        o.made = row < 0 || rows[row].made;
        o.started_ms = started_ms;
        std::string out = contents(out_fd), err_text = contents(err_fd);
        o.out = lines(out, true);
        o.err = lines(err_text, false);
        {
            std::ifstream log(log_path);
            for (std::string line; std::getline(log, line);)
                o.log.push_back(line);
        }
        o.text = "status " + std::to_string(o.status) + "\n--- standard output\n" + out + "\n--- standard error\n" +
                 err_text + "--- capture programs\n";
        for (const std::string& line : o.log)
            o.text += line + "\n";
        settle(&o);
        if (descriptors() != open_before)
            o.broken += "the run left a descriptor open; ";
        return o;
    }

private:
    struct Decoy {
        const char* name;
        pid_t pid;
    };
    std::vector<Decoy> decoys;
    std::string log_path;
    int out_fd = -1, err_fd = -1, saved_in = -1, saved_out = -1, saved_err = -1, held = -1;
    std::string saved_tz;
    bool had_tz = false;
    static std::string program_dir_text;

    static bool program_dir(char* out, size_t cap)
    {
        if (program_dir_text.size() >= cap)
            return false;
        memcpy(out, program_dir_text.c_str(), program_dir_text.size() + 1);
        return true;
    }

    static void write_file(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    // Holds the reservation of name as another run would: an abstract
    // socket bound to its key.
    bool hold(const std::string& name)
    {
        ReservationKeys keys;
        char why[160];
        if (reservation_keys(name.c_str(), &keys, why, sizeof why) == KEYS_UNKNOWN)
            return false;
        const char* key = keys.path;
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        size_t len = strlen(key);
        memcpy(addr.sun_path + 1, key, len);
        held = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return held >= 0 &&
               bind(held, (const sockaddr*)&addr, (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + len)) == 0;
    }

    // Reaps what the case started, and notes what it did to the processes
    // it must leave alone.
    void settle(Outcome* o)
    {
        for (pid_t pid : started)
            if (reap(pid) == -1) // the run returned while its capture program ran
                o->broken += "a capture program was left running; ";
        started.clear();
        if (stale_pid > 0)
            o->stale_ended = reap(stale_pid) == SIGKILL;
        stale_pid = -1;
        for (Decoy& d : decoys)
            if (!runs(d.pid)) {
                o->broken += std::string("the decoy ") + d.name + " was ended; ";
                reap(d.pid);
                d.pid = start_named(d.name);
            }
    }
};
std::string Sweep::program_dir_text;

// --- What must hold

bool has(const std::vector<std::string>& all, const std::string& line)
{
    for (const std::string& l : all)
        if (l == line)
            return true;
    return false;
}

// Why the capture program's line breaks what must hold: the settings file
// applied whole (the instance offset, the mapped source), and a name handed
// over that neither exists nor is held by another run.
std::string capture_problem(const std::string& line, const std::string& dir)
{
    std::istringstream words(line);
    std::string program, name, source;
    words >> program >> name >> source;
    if (program != dir + "zarnivek1.exe" || source != "@401")
        return "the capture program started without the settings applied: " + line;
    if (name == dir + "rec.ts" || name == dir + "rec(1).ts" || access(name.c_str(), F_OK) == 0)
        return "the capture program was handed a name that exists or another run holds: " + name;
    return "";
}

// Why the outcome o of a case breaks what must hold under a single fault
// ("" when nothing does), against the clean outcome c.
std::string judge(const Scenario& s, const std::string& dir, const Rule& rule, int err, const Outcome& c,
                  const Outcome& o)
{
    if (!o.made)
        return "the failing call never came: the run went otherwise than the clean one before it";
    if (!o.broken.empty())
        return o.broken;
    if (o.log.size() > 1)
        return "more than one capture program started";
    std::string problem = o.log.empty() ? "" : capture_problem(o.log[0], dir);
    if (!problem.empty())
        return problem;
    if (!s.check && o.status == 0 && o.log.empty())
        return "status 0, though no capture program ran";
    if (s.check && (o.stale_ended || !o.log.empty()))
        return "the check ended or started a program";
    // Never before the launch moment, nor sooner after a stale instance ended.
    if (o.started_ms >= 0 && o.started_ms < c.started_ms && o.stale_ended == c.stale_ended)
        return "the capture program started " + std::to_string(c.started_ms - o.started_ms) + " ms sooner";
    if (o.status == c.status && o.log == c.log && o.out == c.out && o.err == c.err &&
        o.stale_ended == c.stale_ended)
        return "";
    bool same_acts = o.status == c.status && o.log == c.log && o.stale_ended == c.stale_ended;
    if (rule.text_only)
        return same_acts ? "" : "a call that only writes text changed what the run did";
    if (err == EINTR || err == SHORT_READ)
        return "an interrupted call or a short read was not made again: the run differs from the clean one";
    // The run says what failed and why, in a line the clean run does not write.
    std::string settings_line = "Cannot open '" + dir + "quellatorbin.ini'";
    bool said = false, said_out = false;
    for (const auto* all : {&o.out, &o.err})
        for (const std::string& line : *all)
            if (!has(c.out, line) && !has(c.err, line)) {
                said = said || line.find(strerror(err)) != std::string::npos || line == settings_line ||
                       (s.check && line.rfind("problem: ", 0) == 0);
                said_out = said_out || all == &o.out;
            }
    if (!said)
        return "the run differs from the clean one, and no line it adds says what failed and why";
    if (s.check)
        return o.status == 1 || o.status == 2 ? "" : "a check that found a problem gave status " + std::to_string(o.status);
    // A refusal of the run's own ends it with 1; a capture program that
    // could not be started says so on standard error, with another status.
    if (o.log.empty())
        return !said_out || o.status == 1 ? "" : "a run that refused gave status " + std::to_string(o.status);
    return o.log == c.log && o.status == c.status ? "" : "the run went on otherwise than the clean one";
}

struct Selection {
    std::string scenario, row, call, error;
    bool given = false;

    explicit Selection(const char* text)
    {
        if (!text || !*text)
            return;
        given = true;
        std::string* fields[] = {&scenario, &row, &call, &error};
        std::istringstream in(text);
        for (std::string* f : fields)
            if (!std::getline(in, *f, ':'))
                break;
    }

    bool picks(const std::string& field, const std::string& value) const { return field.empty() || field == value; }
};

int alarm_out = 2;
char case_name[256];

// A case that does not end is a hang: it is named, and the sweep ends.
void hang(int)
{
    static const char head[] = "fault sweep: this case did not end: ";
    (void)!write(alarm_out, head, sizeof head - 1);
    (void)!write(alarm_out, case_name, strlen(case_name));
    (void)!write(alarm_out, "\n", 1);
    _exit(1);
}

TEST(Faults, EverySingleFaultOfThePlatformCallsIsSurvived)
{
    std::string why;
    if (!private_process_table(&why))
        GTEST_SKIP() << why;
    ASSERT_TRUE(know_rows(&why)) << why;
    Sweep sweep;
    ASSERT_EQ(sweep.failure, "");
    const Selection only(getenv("QB_FAULT_CASE"));
    // Valgrind runs each case a hundred times slower.
    const unsigned bound_s = getenv("QB_MEMCHECK") ? 120 : 10;
    alarm_out = dup(2);
    struct sigaction on_alarm = {}, before = {};
    on_alarm.sa_handler = hang;
    sigaction(SIGALRM, &on_alarm, &before);

    auto began = std::chrono::steady_clock::now();
    unsigned cases = 0, failed = 0;
    bool reached[ROW_COUNT] = {};
    for (const Scenario& s : SCENARIOS) {
        if (!only.picks(only.scenario, s.name))
            continue;
        snprintf(case_name, sizeof case_name, "%s, clean", s.name);
        alarm(bound_s);
        const Outcome clean = sweep.run(s, -1, 0, 0);
        alarm(0);
        // The clean run is the one the scenario means.
        EXPECT_EQ(clean.status, s.status) << s.name << "\n" << clean.text;
        EXPECT_EQ(clean.log, s.log.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{with_dir(s.log, sweep.dir)})
            << s.name;
        EXPECT_EQ(clean.stale_ended, s.stale && !s.check) << s.name;
        EXPECT_EQ(clean.broken, "") << s.name;
        for (const std::string& line : s.out)
            EXPECT_TRUE(has(clean.out, with_dir(line, sweep.dir))) << s.name << ": " << line << "\n" << clean.text;
        if (only.given && only.row.empty())
            printf("%s, clean:\n%s\n", s.name, clean.text.c_str());
        unsigned counts[ROW_COUNT];
        for (size_t i = 0; i < ROW_COUNT; i++) {
            counts[i] = rows[i].calls;
            reached[i] = reached[i] || counts[i] > 0;
        }

        for (int row = 0; row < (int)ROW_COUNT; row++) {
            const Rule& rule = *rows[row].rule;
            if (!only.picks(only.row, rule.row))
                continue;
            for (unsigned at = 1; at <= counts[row]; at++) {
                if (!only.picks(only.call, std::to_string(at)))
                    continue;
                for (const Error& e : ERRORS) {
                    if (!applies(rule, e) || !only.picks(only.error, e.name))
                        continue;
                    snprintf(case_name, sizeof case_name, "%s: call %u of %s fails with %s", s.name, at, rule.row,
                             e.name);
                    alarm(bound_s);
                    Outcome o = sweep.run(s, row, at, e.err);
                    alarm(0);
                    cases++;
                    std::string fault = judge(s, sweep.dir, rule, e.err, clean, o);
                    if (only.given)
                        printf("%s:\n%s%s\n", case_name, o.text.c_str(), fault.empty() ? "" : ("FAULT: " + fault).c_str());
                    if (!fault.empty() && ++failed <= 20)
                        ADD_FAILURE() << case_name << ": " << fault << "\n" << o.text;
                    else if (!fault.empty())
                        printf("%s: %s\n", case_name, fault.c_str());
                }
            }
        }
    }
    sigaction(SIGALRM, &before, nullptr);
    close(alarm_out);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(failed, 0u) << "cases that broke what must hold (the first 20 in full above, the rest in a line)";
    printf("fault sweep: %u cases (scenario, row, call, error) in %.1f s, %u failed\n", cases, seconds, failed);
    // A row no scenario calls is swept by none: say which.
    std::string never;
    for (size_t row = 0; row < ROW_COUNT; row++)
        if (!reached[row])
            never += std::string(" ") + rows[row].rule->row;
    if (!never.empty())
        printf("fault sweep: rows no scenario calls:%s\n", never.c_str());
}

} // namespace
