// The platform layer on Linux. The command interpreter is built in: a command
// text is split into words by the Microsoft C runtime's rules and the program
// is started directly, never through a shell, so no file name is interpreted.
#include "base/text.h"
#include "platform/cmdline.h"
#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ; // NOLINT(readability-redundant-declaration): POSIX declares it in no header

namespace {

const int STATUS_NOT_STARTED = 127;
const int STATUS_NONE_ENDED = 128;
const size_t WORD_STORE_CAP = 2048;
const int WORDS_CAP = 1024;

char stdout_buffer[STDOUT_BLOCK];

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

bool same_text_any_case(const char* a, const char* b)
{
    for (; *a && *b; a++, b++)
        if (lower(*a) != lower(*b))
            return false;
    return *a == *b;
}

// "/proc/<pid>/<name>": a long has at most 20 digits and a sign.
const size_t PROC_PATH_CAP = 64;
static_assert(sizeof "/proc/" - 1 + 21 + sizeof "/comm" <= PROC_PATH_CAP, "a /proc path always fits");
const size_t COMM_CAP = 64;       // a process's image name: at most 15 characters and a line feed
const size_t STAT_HEAD_CAP = 512; // the head of /proc/<pid>/stat, up to its state and well beyond

void proc_path(char (&out)[PROC_PATH_CAP], long pid, const char* name)
{
    (void)snprintf(out, sizeof out, "/proc/%ld/%s", pid, name); // fits: see PROC_PATH_CAP
}

// Reads the start of /proc/<pid>/<name> into out, NUL-terminated; the count
// of bytes read, or -1 when the process or the file is gone.
ssize_t proc_read(long pid, const char* name, char* out, size_t out_cap)
{
    char path[PROC_PATH_CAP];
    proc_path(path, pid, name);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t n = read(fd, out, out_cap - 1);
    close(fd);
    if (n < 0)
        return -1;
    out[n] = '\0';
    return n;
}

// False for an entry of /proc that runs no program of its own: a kernel
// thread, a zombie, or a process already gone have no program file. A link
// hidden from us (another user's process) still counts. Most entries are
// kernel threads, and one readlink is far cheaper than opening and reading
// a file of /proc, so the scan over every process asks this first.
bool runs_program(long pid)
{
    char path[PROC_PATH_CAP];
    proc_path(path, pid, "exe");
    char target[1];
    return readlink(path, target, sizeof target) >= 0 || errno != ENOENT;
}

// The image name of process pid (its comm, at most 15 characters) into out.
bool process_image(long pid, char* out, size_t out_cap)
{
    ssize_t n = proc_read(pid, "comm", out, out_cap);
    if (n <= 0)
        return false;
    if (out[n - 1] == '\n')
        out[n - 1] = '\0';
    return true;
}

// True while process pid runs: not gone, and not a zombie, which takes a
// signal without complaint but has nothing left to end.
bool process_is_live(long pid)
{
    char stat[STAT_HEAD_CAP];
    if (proc_read(pid, "stat", stat, sizeof stat) <= 0)
        return false;
    // "<pid> (<comm>) <state> ...": comm may itself hold ')', so take the last.
    const char* close_paren = strrchr(stat, ')');
    return close_paren && close_paren[1] == ' ' && close_paren[2] != 'Z' && close_paren[2] != 'X';
}

// Looks at every other process whose image name equals image, byte for
// byte (on Linux 'zarnivekA.exe' and 'zarniveka.exe' are different program
// files), and with `end` sends it SIGKILL. The count of processes found (and
// ended), or -1 when the process table cannot be read.
int processes_named(const char* image, bool end)
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return -1;
    pid_t self = getpid();
    int found = 0;
    while (struct dirent* entry = readdir(proc)) {
        char* rest = nullptr;
        long pid = strtol(entry->d_name, &rest, 10);
        char comm[COMM_CAP];
        if (*rest != '\0' || pid <= 0 || pid == self || !runs_program(pid) || !process_image(pid, comm, sizeof comm))
            continue;
        if (strcmp(comm, image) == 0 && process_is_live(pid) && (!end || kill((pid_t)pid, SIGKILL) == 0))
            found++;
    }
    closedir(proc);
    return found;
}

// "taskkill /F /IM <image>": SIGKILL to every other process of that image
// name. 0 when it ended at least one process, 128 when none matched, 1 for a
// command it does not understand.
int taskkill(char** words, int n)
{
    const char* image = nullptr;
    for (int i = 1; i + 1 < n; i++)
        if (same_text_any_case(words[i], "/IM"))
            image = words[i + 1];
    if (!image)
        return 1;
    return processes_named(image, true) > 0 ? 0 : STATUS_NONE_ENDED;
}

int spawn_and_wait(char** words, bool quiet_out, bool quiet_err)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    // The program starts with SIGPIPE at its default, though this one ignores it.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    bool ready = posix_spawnattr_setsigdefault(&attr, &defaults) == 0 &&
                 posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF) == 0 &&
                 (!quiet_out || posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0) &&
                 (!quiet_err || posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0);
    pid_t child = 0;
    int err = ENOMEM; // a start that cannot be set up cannot be made at all
    if (ready)
        err = strchr(words[0], '/') ? posix_spawn(&child, words[0], &actions, &attr, words, environ)
                                    : posix_spawnp(&child, words[0], &actions, &attr, words, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (err == EAGAIN || err == ENOMEM)
        return -1;
    if (err != 0) {
        (void)fprintf(stderr, "cannot start '%s': %s\n", words[0], strerror(err));
        return STATUS_NOT_STARTED;
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

void platform_sleep_ms(unsigned ms)
{
    struct timespec left = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int platform_run_command(const char* text)
{
    static char store[WORD_STORE_CAP];
    static char* words[WORDS_CAP];
    int n = cmdline_split(text, store, sizeof store, words, WORDS_CAP);
    if (n < 0)
        return -1;
    // The redirections "1>nul" and "2>nul" are taken out of the words.
    bool quiet_out = false, quiet_err = false;
    int kept = 0;
    for (int i = 0; i < n; i++) {
        if (same_text_any_case(words[i], "1>nul"))
            quiet_out = true;
        else if (same_text_any_case(words[i], "2>nul"))
            quiet_err = true;
        else
            words[kept++] = words[i];
    }
    words[kept] = nullptr;
    if (kept == 0)
        return 0;
    if (same_text_any_case(words[0], "taskkill"))
        return taskkill(words, kept);
    return spawn_and_wait(words, quiet_out, quiet_err);
}

bool platform_file_exists(const char* path)
{
    struct stat st = {};
    return stat(path, &st) == 0;
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

void platform_write_out(const char* text, size_t len)
{
    (void)fwrite(text, 1, len, stdout); // a console write has no one to report to
}

void platform_write_err(const char* text, size_t len)
{
    (void)fwrite(text, 1, len, stderr);
}

const char PLATFORM_SEPARATORS[] = "/";

bool platform_is_lead_byte(unsigned char)
{
    return false;
}

int platform_image_running(const char* image)
{
    int found = processes_named(image, false);
    return found < 0 ? -1 : found > 0;
}

namespace {

// A full path: at most PATH_MAX, which getcwd also keeps to.
const size_t FULL_PATH_CAP = 4096;
static_assert(FULL_PATH_CAP >= PATH_MAX, "realpath fills up to PATH_MAX bytes");
// An abstract socket's name: the bytes of sun_path after its leading zero.
const size_t SOCKET_NAME_MAX = sizeof(sockaddr_un{}.sun_path) - 1;
static_assert(SOCKET_NAME_MAX < RESERVATION_KEY_CAP, "every key fits its text");

int held_reservation = -1;

// Appends the components of path to the full path in out (which begins with
// '/'), taking "." out and letting ".." take out the component before it.
bool append_components(const char* path, char* out, size_t* len, size_t cap)
{
    for (const char* p = path; *p;) {
        while (*p == '/')
            p++;
        size_t n = strcspn(p, "/");
        if (n == 0)
            break;
        if (n == 2 && p[0] == '.' && p[1] == '.') {
            while (*len > 1 && out[*len - 1] != '/')
                (*len)--;
            if (*len > 1)
                (*len)--; // the '/' before the component taken out, unless it is the root
        } else if (!(n == 1 && p[0] == '.')) {
            if (*len + (*len > 1) + n >= cap)
                return false;
            if (*len > 1)
                out[(*len)++] = '/';
            memcpy(out + *len, p, n);
            *len += n;
        }
        p += n;
    }
    out[*len] = '\0';
    return true;
}

// The full path of name (the file need not exist yet). Its directory, when
// it exists, as the kernel finds it: symbolic links and ".." followed, so
// that every spelling of one file, through a linked directory too, gives one
// path. Otherwise relative to the current directory with "." and ".." taken
// out as text: no file can be created there, but the name still gets a key.
bool full_path(const char* name, char (&out)[FULL_PATH_CAP])
{
    const char* base = strrchr(name, '/');
    base = base ? base + 1 : name;
    size_t dir_len = (size_t)(base - name);
    char dir[FULL_PATH_CAP];
    size_t len = 1;
    if (dir_len < sizeof dir) {
        memcpy(dir, name, dir_len);
        dir[dir_len] = '\0';
        if (realpath(dir_len ? dir : ".", out)) {
            len = strlen(out);
            return append_components(base, out, &len, sizeof out);
        }
    }
    out[0] = '/';
    if (name[0] != '/' && (!getcwd(dir, sizeof dir) || !append_components(dir, out, &len, sizeof out)))
        return false;
    return append_components(name, out, &len, sizeof out);
}

} // namespace

bool platform_reservation_key(const char* name, char* key, size_t key_cap)
{
    char full[FULL_PATH_CAP];
    if (!full_path(name, full))
        return false;
    return text_object_name(full, SOCKET_NAME_MAX, key, key_cap);
}

Reservation platform_reserve_name(const char* name)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    char key[RESERVATION_KEY_CAP];
    if (!platform_reservation_key(name, key, sizeof key))
        return RESERVATION_UNAVAILABLE;
    size_t len = strlen(key); // fits: the key is kept to SOCKET_NAME_MAX
    memcpy(addr.sun_path + 1, key, len);
    // Not handed on to the capture program: the reservation ends with this run.
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return RESERVATION_UNAVAILABLE;
    if (bind(fd, (const sockaddr*)&addr, (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + len)) == 0) {
        platform_release_name();
        held_reservation = fd;
        return RESERVED;
    }
    int err = errno;
    (void)close(fd);
    return err == EADDRINUSE ? RESERVATION_TAKEN : RESERVATION_UNAVAILABLE;
}

void platform_release_name()
{
    if (held_reservation >= 0)
        (void)close(held_reservation);
    held_reservation = -1;
}
