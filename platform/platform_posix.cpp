// The platform layer on Linux: the console, the program's directory, pauses,
// the time zone and files. The process table, starting a command and the
// reservation of output names have files of their own (posix_*.cpp).
#include "platform/platform.h"
#include "platform/posix.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

char stdout_buffer[STDOUT_BLOCK];

} // namespace

// --- Console

void platform_console_init()
{
    // A standard stream that was closed would be the first descriptor the
    // capture program opens (its output file), and its console output would
    // land inside the recording: it is opened on /dev/null before anything else.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int null_fd = open("/dev/null", O_RDWR);
            if (null_fd >= 0 && null_fd != fd) {
                (void)dup2(null_fd, fd);
                (void)close(null_fd);
            }
        }
    // Standard output may be a pipe whose reader has gone: a write then fails,
    // as on Windows, instead of ending the run before the capture program
    // starts or before its status comes back.
    (void)signal(SIGPIPE, SIG_IGN);
    // A stream the C library cannot set up so keeps its default buffering.
    if (isatty(STDOUT_FILENO))
        (void)setvbuf(stdout, nullptr, _IONBF, 0);
    else
        (void)setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    (void)setvbuf(stderr, nullptr, _IONBF, 0);
}

void platform_write_out(const char* text, size_t len)
{
    (void)fwrite(text, 1, len, stdout); // a console write has no one to report to
}

void platform_write_err(const char* text, size_t len)
{
    (void)fwrite(text, 1, len, stderr);
}

// --- The program's directory and the rules of its paths

bool platform_program_dir(char* out, size_t out_cap)
{
    char path[PROGRAM_PATH_QUERY];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || (size_t)n >= sizeof path || out_cap < sizeof path)
        return false;
    path[n] = '\0';
    char* slash = strrchr(path, '/');
    if (!slash)
        return false;
    slash[1] = '\0';
    memcpy(out, path, (size_t)(slash - path) + 2);
    return true;
}

const char PLATFORM_SEPARATORS[] = "/";

bool platform_is_lead_byte(unsigned char)
{
    return false;
}

void platform_keep_arguments(int, char**) {}

bool platform_name_problem(const char*, char*, size_t)
{
    return false; // a Linux file name may hold any byte but '/' and NUL
}

// --- Clock and pauses

bool platform_zone_problem(char* why, size_t why_cap)
{
    // The C library takes a TZ it cannot read as UTC, under the TZ's first
    // letters as its name; a zone it did read has a name for both seasons
    // (the same one where there is no daylight saving time).
    const char* tz = getenv("TZ");
    if (!tz || !*tz)
        return false;
    tzset();
    if (tzname[1][0] != '\0')
        return false;
    (void)snprintf(why, why_cap, "TZ=%.*s names no time zone this system knows: the run goes by UTC",
                   (int)(why_cap / 2), tz);
    return true;
}

void platform_sleep_ms(unsigned ms)
{
    struct timespec left = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// --- Files

bool platform_file_exists(const char* path)
{
    // The entry itself: a symbolic link counts, however it dangles, so that
    // no run writes through one into another place.
    struct stat st = {};
    return lstat(path, &st) == 0;
}

int platform_open_regular(const char* path)
{
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

long platform_read(int fd, char* buf, size_t cap)
{
    for (;;) {
        ssize_t n = read(fd, buf, cap);
        if (n >= 0 || errno != EINTR)
            return (long)n;
    }
}

void platform_close(int fd)
{
    (void)close(fd); // opened for reading: nothing is lost when closing fails
}

bool platform_can_run(const char* path, char* why, size_t why_cap)
{
    // A directory cannot be started either: the system says EACCES for it.
    struct stat st = {};
    int err = stat(path, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EACCES : access(path, X_OK) != 0 ? errno : 0;
    if (err)
        posix_error_text(err, why, why_cap);
    return err == 0;
}

bool platform_can_create_in(const char* dir, char* why, size_t why_cap)
{
    const char* path = *dir ? dir : ".";
    struct stat st = {};
    int err = stat(path, &st) != 0 ? errno : !S_ISDIR(st.st_mode) ? ENOTDIR : 0;
    if (err) {
        posix_error_text(err, why, why_cap);
        return false;
    }
    if (st.st_nlink == 0) {
        (void)snprintf(why, why_cap, "it has been deleted");
        return false;
    }
    if (access(path, W_OK | X_OK) != 0) {
        posix_error_text(errno, why, why_cap);
        return false;
    }
    return true;
}
