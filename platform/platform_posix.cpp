// The platform layer on Linux: the console, the program's directory, pauses,
// the time zone and files, and the table of every operation. Whether a file
// is a program this system can start, the process table, starting a command
// and the reservation of output names have files of their own (posix_*.cpp).
// Every system call goes through the fault table (SYS, platform/calls.h).
#include "base/text.h"
#include "platform/calls.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/posix.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

namespace {

char stdout_buffer[STDOUT_BLOCK];
// How often a pause that fails otherwise than by an interruption is tried.
const int SLEEP_TRIES = 3;

// --- Console

void write_out(const char* text, size_t len)
{
    (void)SYS(fwrite)(text, 1, len, stdout); // a console write has no one to report to
}

void write_err(const char* text, size_t len)
{
    (void)SYS(fwrite)(text, 1, len, stderr);
}

// --- The program's directory and the rules of its paths

bool program_dir(char* out, size_t out_cap)
{
    char path[PROGRAM_PATH_QUERY];
    ssize_t n = SYS(readlink)("/proc/self/exe", path, sizeof path);
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

bool is_lead_byte(unsigned char)
{
    return false;
}

// A Linux file name may hold any byte but '/' and NUL; its last part at most
// NAME_MAX bytes, or no file system can store it.
bool can_store(const char* name, char* why, size_t why_cap)
{
    const char* slash = strrchr(name, '/');
    if (strlen(slash ? slash + 1 : name) <= NAME_MAX)
        return true;
    (void)snprintf(why, why_cap, "its last part is longer than %d bytes", NAME_MAX);
    return false;
}

// Linux hands main the argument's bytes as they are: they are the name.
StoredName file_argument(int, const char* const* argv, int pos, char* out, size_t out_cap, char* why, size_t why_cap)
{
    if ((size_t)snprintf(out, out_cap, "%s", argv[pos]) >= out_cap) {
        (void)snprintf(why, why_cap, "it is longer than %u bytes", (unsigned)(out_cap - 1));
        return NOT_STORABLE;
    }
    return can_store(out, why, why_cap) ? STORED_AS_GIVEN : NOT_STORABLE;
}

OutputDir output_dir(const char* name, char* dir)
{
    const char* slash = strrchr(name, '/');
    size_t len = slash ? (size_t)(slash - name) + 1 : 0; // fits: a name fits OUTPUT_NAME_CAP
    memcpy(dir, name, len);
    dir[len] = '\0';
    return slash ? DIR_NAMED : DIR_CURRENT;
}

// --- Clock and pauses

bool zone_problem(char* why, size_t why_cap)
{
    // The C library takes a TZ it cannot read as UTC, under the TZ's first
    // letters as its name; a zone it did read has a name for both seasons
    // (the same one where there is no daylight saving time).
    const char* tz = SYS(getenv)("TZ");
    if (!tz || !*tz)
        return false;
    SYS(tzset)();
    if (tzname[1][0] != '\0')
        return false;
    (void)snprintf(why, why_cap, "TZ=%.*s names no time zone this system knows: the run goes by UTC",
                   (int)(why_cap / 2), tz);
    return true;
}

} // namespace

void posix_sleep_ms(unsigned ms)
{
    // Interrupted, it sleeps what is left. Failed otherwise, it has slept
    // nothing: it tries again, a few times, for a pause others count on (the
    // one after a stale instance was ended), then gives up without spinning;
    // the wait reads the clock again.
    struct timespec left = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    int failed = 0;
    while (SYS(nanosleep)(&left, &left) != 0 && (errno == EINTR || ++failed < SLEEP_TRIES)) {
    }
}

namespace {

// --- Files

FileStatus file_status(const char* path, char* why, size_t why_cap)
{
    // The entry itself: a symbolic link counts, however it dangles, so that
    // no run writes through one into another place. Only "no such entry"
    // says a name is free; any other failure cannot tell.
    struct stat st = {};
    if (SYS(lstat)(path, &st) == 0)
        return ENTRY_PRESENT;
    if (errno == ENOENT || errno == ENOTDIR)
        return ENTRY_ABSENT;
    posix_error_text(errno, why, why_cap);
    return ENTRY_UNKNOWN;
}

int open_regular(const char* path, char* why, size_t why_cap)
{
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    int fd = posix_open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        posix_error_text(errno, why, why_cap);
        return -1;
    }
    struct stat st = {};
    int err = SYS(fstat)(fd, &st) != 0 ? errno : 0;
    if (err == 0 && S_ISREG(st.st_mode))
        return fd;
    if (err)
        posix_error_text(err, why, why_cap);
    else
        (void)snprintf(why, why_cap, S_ISDIR(st.st_mode) ? "it is a directory" : "it is no regular file");
    (void)SYS(close)(fd);
    return -1;
}

long read_file(int fd, char* buf, size_t cap, char* why, size_t why_cap)
{
    for (;;) {
        ssize_t n = SYS(read)(fd, buf, cap);
        if (n >= 0)
            return (long)n;
        if (errno != EINTR) {
            posix_error_text(errno, why, why_cap);
            return -1;
        }
    }
}

void close_file(int fd)
{
    (void)SYS(close)(fd); // opened for reading: nothing is lost when closing fails
}

bool can_create_in(const char* dir, char* why, size_t why_cap)
{
    const char* path = *dir ? dir : ".";
    struct stat st = {};
    const int DELETED = -1;
    int err = SYS(stat)(path, &st) != 0                ? errno
              : !S_ISDIR(st.st_mode)                   ? ENOTDIR
              : st.st_nlink == 0                       ? DELETED
              : SYS(access)(path, W_OK | X_OK) != 0    ? errno
                                                       : 0;
    if (err == DELETED)
        (void)snprintf(why, why_cap, "it has been deleted");
    else if (err)
        posix_error_text(err, why, why_cap);
    return err == 0;
}

} // namespace

bool clock_broken_down(time_t t, bool local, struct tm* out)
{
    return (local ? SYS(localtime_r)(&t, out) : SYS(gmtime_r)(&t, out)) != nullptr;
}

void posix_error_text(int err, char* why, size_t why_cap)
{
    (void)snprintf(why, why_cap, "%s", strerror(err));
}

int posix_open(const char* path, int flags)
{
    int fd = -1;
    while ((fd = SYS(open)(path, flags)) < 0 && errno == EINTR) {
    }
    return fd;
}

long posix_read_all(int fd, char* buf, size_t cap)
{
    size_t n = 0;
    while (n + 1 < cap) {
        ssize_t got = SYS(read)(fd, buf + n, cap - 1 - n);
        if (got == 0)
            break;
        if (got < 0 && errno != EINTR)
            return -1;
        n += got > 0 ? (size_t)got : 0;
    }
    buf[n] = '\0';
    return (long)n;
}

void platform_console_init()
{
    // A standard stream that was closed would be the first descriptor the
    // capture program opens (its output file), and its console output would
    // land inside the recording: it is opened on /dev/null before anything else.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (SYS(fcntl)(fd, F_GETFD) < 0 && errno == EBADF) {
            int null_fd = SYS(open)("/dev/null", O_RDWR);
            if (null_fd >= 0 && null_fd != fd) {
                (void)SYS(dup2)(null_fd, fd);
                (void)SYS(close)(null_fd);
            }
        }
    // Standard output may be a pipe whose reader has gone: a write then fails,
    // as on Windows, instead of ending the run before the capture program
    // starts or before its status comes back.
    (void)SYS(signal)(SIGPIPE, SIG_IGN);
    // A stream the C library cannot set up so keeps its default buffering.
    if (SYS(isatty)(STDOUT_FILENO))
        (void)SYS(setvbuf)(stdout, nullptr, _IONBF, 0);
    else
        (void)SYS(setvbuf)(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    (void)SYS(setvbuf)(stderr, nullptr, _IONBF, 0);
}

const Platform platform_os = {
    program_dir,        // program_dir
    "/",                // path_separators
    is_lead_byte,       // is_lead_byte
    file_argument,      // file_argument
    can_store,          // can_store
    output_dir,         // output_dir
    text_utf8,          // encode_char
    open_regular,       // open_regular
    read_file,          // read
    close_file,         // close
    file_status,        // file_status
    posix_can_run,      // can_run
    can_create_in,      // can_create_in
    clock_now,          // clock_now
    clock_local_time,   // local_time
    zone_problem,       // zone_problem
    posix_sleep_ms,     // sleep_ms
    posix_image_state,  // image_state
    posix_end_image,    // end_image
    posix_run_command,  // run_command
    posix_reserve_name, // reserve_name
    posix_release_name, // release_name
    write_out,          // write_out
    write_out,          // write_progress
    write_err,          // write_err
};
