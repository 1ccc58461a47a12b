// The Linux build's process table, the ending of an image and the pauses,
// against real processes: a forked child renamed with prctl stands for a
// running capture instance.
#include "platform/calls.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <stdio.h>
#include <stdlib.h>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child process named `name` that waits to be ended, or, with `zombie`,
// one that has ended and is left unreaped. Always reaped on destruction.
struct Child {
    pid_t pid = -1;
    bool reaped = false;

    Child(const char* name, bool zombie)
    {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_NAME, name);
            if (zombie)
                _exit(0);
            if (write(ready[1], "r", 1) != 1)
                _exit(1);
            for (;;)
                pause();
        }
        close(ready[1]);
        if (pid > 0) {
            if (zombie) {
                siginfo_t info;
                waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT);
            } else {
                char c;
                if (read(ready[0], &c, 1) != 1)
                    ADD_FAILURE() << "child did not start";
            }
        }
        close(ready[0]);
    }

    // True when the child is still running (neither ended nor a zombie).
    bool running()
    {
        siginfo_t info = {};
        return waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    }

    // The signal that ended the child, 0 if it exited by itself, or -1 (a
    // failure) when it still runs after three seconds: a taskkill that ended
    // nothing fails the test instead of hanging it.
    int end_signal()
    {
        for (int tenths = 0; tenths < 30; tenths++) {
            int status = 0;
            pid_t got = waitpid(pid, &status, WNOHANG);
            if (got == pid) {
                reaped = true;
                return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            }
            if (got < 0)
                break;
            usleep(100000);
        }
        ADD_FAILURE() << "process " << pid << " was not ended within 3 s";
        return -1;
    }

    ~Child()
    {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

const char* const RESULTS[] = {"ended", "none", "not all ended", "cannot tell"};

// Ends every process of the image name: what became of it, and why.
std::string end(const std::string& image, int* ended = nullptr)
{
    int count = 0;
    char why[160] = "";
    StopResult r = platform_os.end_image(image.c_str(), &count, why, sizeof why);
    if (ended)
        *ended = count;
    return std::string(RESULTS[r]) + (why[0] ? std::string(" (") + why + ")" : "");
}

TEST(EndImage, EndsEveryProcessOfThatImageNameAndNoOther)
{
    const struct {
        const char* name;
        const char* image;
        bool ended;
    } cases[] = {
        {"zarnivekq.exe", "zarnivekq.exe", true},
        // Names compare byte for byte: on Linux these are different program files.
        {"ZarnivekQ.EXE", "zarnivekq.exe", false},
        {"zarnivekq.exe", "zarnivekq.ex", false},
        {"zarnivekq.exe", "zarnivek.exe", false},
        {"zarnivekq.exe2", "zarnivekq.exe", false},
    };
    for (const auto& c : cases) {
        Child child(c.name, false);
        ASSERT_GT(child.pid, 0);
        EXPECT_EQ(end(c.image), c.ended ? "ended" : "none") << c.name << " / " << c.image;
        if (c.ended)
            EXPECT_EQ(child.end_signal(), SIGKILL) << c.name;
        else
            EXPECT_TRUE(child.running()) << c.name << " / " << c.image;
    }
}

TEST(EndImage, TwoInstancesAreBothEnded)
{
    Child first("zarnivekw.exe", false), second("zarnivekw.exe", false);
    int ended = 0;
    EXPECT_EQ(end("zarnivekw.exe", &ended), "ended");
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(first.end_signal(), SIGKILL);
    EXPECT_EQ(second.end_signal(), SIGKILL);
    EXPECT_EQ(end("zarnivekw.exe"), "none");
}

// An ended process that waits to be reaped has nothing left to end: it must
// not count as a stale instance that was ended (which would cost a pause).
TEST(EndImage, ZombieIsNotReportedAsEnded)
{
    Child zombie("zarnivekz.exe", true);
    ASSERT_GT(zombie.pid, 0);
    EXPECT_EQ(end("zarnivekz.exe"), "none");
    EXPECT_EQ(zombie.end_signal(), 0);
}

TEST(EndImage, NeverEndsTheCallingProcess)
{
    char own[16] = {};
    prctl(PR_GET_NAME, own);
    prctl(PR_SET_NAME, "zarnivekt.exe");
    std::string result = end("zarnivekt.exe");
    prctl(PR_SET_NAME, own);
    EXPECT_EQ(result, "none");
}

// Calls of kill and nanosleep, counted by the hooks below; a loop that
// never ends aborts instead of hanging.
int kills, naps;

int kill_nothing(pid_t, int)
{
    if (++kills > 1000)
        abort();
    return 0;
}

// The process ended is gone; one of the name starts at once in its place.
std::unique_ptr<Child> replacement;

int kill_and_replace(pid_t pid, int sig)
{
    int sent = ((decltype(&::kill))platform_calls[CALL_kill].original)(pid, sig);
    if (sig == SIGKILL && !replacement)
        replacement.reset(new Child("zarnivekb.exe", false));
    return sent;
}

int nap_fails(const struct timespec*, struct timespec*)
{
    if (++naps > 1000)
        abort();
    errno = EIO;
    return -1;
}

int nap(const struct timespec* pause, struct timespec*)
{
    // The look again comes 50 ms on.
    if (pause->tv_sec != 0 || pause->tv_nsec != 50000000L)
        abort();
    naps++;
    return 0;
}

// A kill that ends nothing is noticed by looking again, for a second, 50 ms
// apart; a process of the name that starts meanwhile is a new one, not one
// that would not end; a pause that fails is tried again a few times.
TEST(EndImage, LooksAgainAtWhatItEndedForASecond)
{
    Child stays("zarnivekk.exe", false);
    platform_calls[CALL_kill].current = (SystemCallPtr)kill_nothing;
    platform_calls[CALL_nanosleep].current = (SystemCallPtr)nap;
    kills = naps = 0;
    EXPECT_EQ(end("zarnivekk.exe"), "not all ended (it still runs after SIGKILL)");
    EXPECT_EQ(kills, 21); // SIGKILL, then signal 0 at each look
    EXPECT_EQ(naps, 20);
    platform_calls[CALL_nanosleep].current = platform_calls[CALL_nanosleep].original;
    platform_calls[CALL_kill].current = (SystemCallPtr)kill_and_replace;
    Child ended("zarnivekb.exe", false);
    EXPECT_EQ(end("zarnivekb.exe"), "ended");
    EXPECT_EQ(ended.end_signal(), SIGKILL);
    platform_calls[CALL_kill].current = platform_calls[CALL_kill].original;
    ASSERT_TRUE(replacement && replacement->running());
    EXPECT_EQ(end("zarnivekb.exe"), "ended");
    EXPECT_EQ(replacement->end_signal(), SIGKILL);
    replacement.reset();
    platform_calls[CALL_nanosleep].current = (SystemCallPtr)nap_fails;
    naps = 0;
    platform_os.sleep_ms(1000);
    EXPECT_EQ(naps, 3);
    platform_calls[CALL_nanosleep].current = platform_calls[CALL_nanosleep].original;
}

// Runs look(image) in a child process as `uid` (-1: as this test) with at
// most `files` descriptors and `processes` processes (0: as many as this
// test), and gives what it wrote on its standard error; "skip" when the
// child cannot become that user.
std::string in_child(void (*look)(const char*), const char* image, int uid, int files, int processes)
{
    int out[2];
    if (pipe(out) != 0)
        return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        // Standard error is the pipe, and no descriptor is open above it.
        if (dup2(out[1], 2) != 2)
            _exit(1);
        for (int fd = 3; fd < 1024; fd++)
            close(fd);
        struct rlimit no_files = {(rlim_t)files, (rlim_t)files}, no_processes = {0, 0};
        if (uid >= 0 && (setgid((gid_t)uid) != 0 || setuid((uid_t)uid) != 0))
            fputs("skip", stderr);
        else if ((files == 0 || setrlimit(RLIMIT_NOFILE, &no_files) == 0) &&
                 (processes == 0 || setrlimit(RLIMIT_NPROC, &no_processes) == 0))
            look(image);
        _exit(0);
    }
    close(out[1]);
    std::string seen;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        seen.append(buf, (size_t)n);
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return seen;
}

// What the process table shows of an image name, and what ending it gives.
void table(const char* image)
{
    static const char* const STATES[] = {"not running", "running", "not endable", "unknown"};
    char why[160] = "";
    ImageState state = platform_os.image_state(image, why, sizeof why);
    fprintf(stderr, "%s (%s), end: %s", STATES[state], why, end(image).c_str());
}

// "Not running" only when the table says so: an entry that cannot be read
// for any reason but its process having ended makes the answer "cannot
// tell", and one that runs as another user cannot be ended.
TEST(ProcessTable, TellsWhatRunsWhatCannotBeEndedAndWhatCannotBeTold)
{
    Child running("zarnivekr.exe", false), zombie("zarnivekz.exe", true), other("zarnivekp.exe", false);
    ASSERT_GT(running.pid, 0);
    ASSERT_GT(zombie.pid, 0);
    const struct {
        const char* image;
        int uid, files;
        const char* want;
    } cases[] = {
        {"zarnivekz.exe", -1, 0, "not running (), end: none"},
        {"zarnivekn.exe", -1, 0, "not running (), end: none"},
        // The table itself, or the entries in it, cannot be opened.
        {"zarnivekr.exe", -1, 3, "unknown (Too many open files), end: cannot tell (Too many open files)"},
        {"zarnivekr.exe", -1, 4, "unknown (Too many open files), end: cannot tell (Too many open files)"},
        {"zarnivekp.exe", 65534, 0,
         "not endable (Operation not permitted), end: not all ended (Operation not permitted)"},
    };
    for (const auto& c : cases) {
        // Valgrind (QB_MEMCHECK) keeps descriptors of its own: no lower limit can be set.
        if (c.files && getenv("QB_MEMCHECK"))
            continue;
        std::string seen = in_child(table, c.image, c.uid, c.files, 0);
        if (seen != "skip") { // "skip": this test cannot look at the table as another user
            EXPECT_EQ(seen, c.want) << c.image << " " << c.files;
        }
    }
    EXPECT_TRUE(running.running());
    EXPECT_TRUE(other.running());
}

// While the capture program runs, SIGTERM and SIGHUP sent to the run reach
// it; it starts with every signal the run handles or ignores at its default.
TEST(Command, SignalsArePassedOnAndAtTheirDefaultInTheProgram)
{
    char path[] = "/tmp/qbsigXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    for (int sig : {SIGTERM, SIGHUP}) {
        pid_t self = getpid(), sender = fork();
        if (sender == 0) {
            usleep(500000);
            kill(self, sig);
            _exit(0);
        }
        std::string command = std::string("/bin/sh -c \"grep SigIgn /proc/self/status > ") + path + "; exec sleep 5\"";
        EXPECT_EQ(platform_os.run_command(platform_os, command.c_str()), 128 + sig);
        waitpid(sender, nullptr, 0);
        FILE* f = fopen(path, "r");
        ASSERT_NE(f, nullptr);
        unsigned long long ignored = ~0ull;
        EXPECT_EQ(fscanf(f, "SigIgn: %llx", &ignored), 1);
        fclose(f);
        for (int at_default : {SIGPIPE, SIGTERM, SIGHUP, SIGINT, SIGQUIT})
            EXPECT_EQ(ignored >> (at_default - 1) & 1, 0u) << "signal " << at_default << " ignored";
    }
    unlink(path);
}

// /proc mounted hidepid=2 shows this user no other user's process, PID 1
// among them: whether another user's instance runs cannot be told, and
// "none runs" would be a guess.
int open_hiding_others(const char* path, int flags, ...)
{
    if (strcmp(path, "/proc/1/comm") == 0) {
        errno = ENOENT;
        return -1;
    }
    return ((decltype(&::open))platform_calls[CALL_open].original)(path, flags);
}

TEST(ProcessTable, ATableThatHidesOtherUsersCannotTell)
{
    platform_calls[CALL_open].current = (SystemCallPtr)open_hiding_others;
    char why[160] = "";
    EXPECT_EQ(platform_os.image_state("zarnivekh.exe", why, sizeof why), IMAGE_UNKNOWN);
    EXPECT_STREQ(why, "Permission denied");
    EXPECT_EQ(end("zarnivekh.exe"), "cannot tell (Permission denied)");
    platform_calls[CALL_open].current = platform_calls[CALL_open].original;
    EXPECT_EQ(end("zarnivekh.exe"), "none");
}

void start(const char*)
{
    fprintf(stderr, "status %d", platform_os.run_command(platform_os, "/bin/true"));
}

// No process left to this user: the capture program cannot be started, and
// the run says why before it gives -1.
TEST(Command, NoProcessLeftIsSaid)
{
    std::string seen = in_child(start, "", 65534, 0, 1);
    if (seen == "skip")
        GTEST_SKIP() << "this test cannot run a child as another user";
    EXPECT_EQ(seen, "cannot start '/bin/true': Resource temporarily unavailable\nstatus -1");
}

} // namespace
