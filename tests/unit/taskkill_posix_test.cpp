// The Linux build's built-in taskkill against real processes: a forked child
// renamed with prctl stands for a running capture instance.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <string>
#include <sys/prctl.h>
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

int taskkill(const std::string& image)
{
    return platform_run_command(("taskkill /F /IM " + image + " 1>nul 2>nul").c_str());
}

TEST(Taskkill, EndsEveryProcessOfThatImageNameAndNoOther)
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
        EXPECT_EQ(taskkill(c.image), c.ended ? 0 : 128) << c.name << " / " << c.image;
        if (c.ended)
            EXPECT_EQ(child.end_signal(), SIGKILL) << c.name;
        else
            EXPECT_TRUE(child.running()) << c.name << " / " << c.image;
    }
}

TEST(Taskkill, TwoInstancesAreBothEnded)
{
    Child first("zarnivekw.exe", false), second("zarnivekw.exe", false);
    EXPECT_EQ(taskkill("zarnivekw.exe"), 0);
    EXPECT_EQ(first.end_signal(), SIGKILL);
    EXPECT_EQ(second.end_signal(), SIGKILL);
    EXPECT_EQ(taskkill("zarnivekw.exe"), 128);
}

// An ended process that waits to be reaped has nothing left to end: it must
// not count as a stale instance that was ended (which would cost a pause).
TEST(Taskkill, ZombieIsNotReportedAsEnded)
{
    Child zombie("zarnivekz.exe", true);
    ASSERT_GT(zombie.pid, 0);
    EXPECT_EQ(taskkill("zarnivekz.exe"), 128);
    EXPECT_EQ(zombie.end_signal(), 0);
}

TEST(Taskkill, NeverEndsTheCallingProcess)
{
    char own[16] = {};
    prctl(PR_GET_NAME, own);
    prctl(PR_SET_NAME, "zarnivekt.exe");
    int status = taskkill("zarnivekt.exe");
    prctl(PR_SET_NAME, own);
    EXPECT_EQ(status, 128);
}

} // namespace
