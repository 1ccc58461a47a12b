// Output name reservations on Linux: an abstract Unix socket, bound and
// never listening, named by the name's key. Abstract sockets belong to the
// network namespace, so runs of every user and session see each other's.
// The capture program inherits the socket (posix_command.cpp), so the name
// stays taken while it or what it leaves running holds it, however the run
// ends.
#include "base/text.h"
#include "platform/calls.h"
#include "platform/posix.h"
#include "platform/reservation_key.h"

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/un.h>

namespace {

// A path: at most PATH_MAX bytes, as the kernel takes them.
const size_t PATH_CAP = PATH_MAX;
// The links followed before a name counts as a loop, as the kernel counts them.
const int LINKS_MAX = 40;
// An abstract socket's name: the bytes of sun_path after its leading zero.
const size_t SOCKET_NAME_MAX = sizeof(sockaddr_un{}.sun_path) - 1;
static_assert(SOCKET_NAME_MAX < RESERVATION_KEY_CAP, "every key fits its text");
// "<device>.<inode>/<name>": two 64-bit numbers in hex and a file name.
const size_t IDENTITY_CAP = 2 * 16 + 2 + NAME_MAX + 1;

int held_reservation = -1;

// Where a name leads: the name itself, or, where it is a symbolic link (one
// that dangles too), what the link points to, followed as the kernel would
// (a relative target from the link's directory). 0, or the error number: a
// loop, a path that does not fit, a link that cannot be read.
int follow_links(const char* name, char (&path)[PATH_CAP])
{
    int n = snprintf(path, sizeof path, "%s", name);
    if (n < 0 || (size_t)n >= sizeof path)
        return ENAMETOOLONG;
    for (int hop = 0; hop < LINKS_MAX; hop++) {
        struct stat st = {};
        if (SYS(lstat)(path, &st) != 0)
            return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        char target[PATH_CAP];
        ssize_t len = SYS(readlink)(path, target, sizeof target - 1);
        if (len < 0)
            return errno;
        target[len] = '\0';
        const char* slash = strrchr(path, '/');
        size_t dir_len = target[0] == '/' || !slash ? 0 : (size_t)(slash - path) + 1;
        if (dir_len + (size_t)len >= sizeof path)
            return ENAMETOOLONG;
        memcpy(path + dir_len, target, (size_t)len + 1);
    }
    return ELOOP;
}

} // namespace

bool reservation_key(const char* name, char* key, size_t key_cap, char* why, size_t why_cap)
{
    why[0] = '\0';
    char path[PATH_CAP];
    int err = follow_links(name, path);
    // The directory by its identity, which every route to it shares (a
    // symbolic link, a bind mount, ".."), and the file's own name.
    char* slash = strrchr(path, '/');
    const char* file = slash ? slash + 1 : path;
    struct stat dir = {};
    if (err == 0 && !slash) {
        err = SYS(stat)(".", &dir) != 0 ? errno : 0;
    } else if (err == 0) {
        char first = slash[1];
        slash[1] = '\0'; // the directory, its last '/' kept: "/" is the root
        err = SYS(stat)(path, &dir) != 0 ? errno : 0;
        slash[1] = first;
    }
    if (err == 0 && strlen(file) > NAME_MAX)
        err = ENAMETOOLONG;
    if (err == ENOENT || err == ENOTDIR)
        return false; // no directory: no file can be made there, nor a key
    if (err != 0) {
        posix_error_text(err, why, why_cap);
        return false;
    }
    char identity[IDENTITY_CAP];
    (void)snprintf(identity, sizeof identity, "%llx.%llx/%.*s", (unsigned long long)dir.st_dev,
                   (unsigned long long)dir.st_ino, NAME_MAX, file); // fits: see IDENTITY_CAP
    return text_object_name(identity, SOCKET_NAME_MAX, key, key_cap);
}

Reservation posix_reserve_name(const char* name, char* why, size_t why_cap)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    char key[RESERVATION_KEY_CAP];
    if (!reservation_key(name, key, sizeof key, why, why_cap))
        return RESERVATION_UNAVAILABLE;
    size_t len = strlen(key); // fits: the key is kept to SOCKET_NAME_MAX
    memcpy(addr.sun_path + 1, key, len);
    // Close-on-exec: of the programs this run starts, only the capture
    // program gets it.
    int fd = SYS(socket)(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        posix_error_text(errno, why, why_cap);
        return RESERVATION_UNAVAILABLE;
    }
    if (SYS(bind)(fd, (const sockaddr*)&addr, (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + len)) == 0) {
        posix_release_name();
        held_reservation = fd;
        return RESERVED;
    }
    int err = errno;
    (void)SYS(close)(fd);
    if (err == EADDRINUSE)
        return RESERVATION_TAKEN;
    posix_error_text(err, why, why_cap);
    return RESERVATION_UNAVAILABLE;
}

int posix_held_reservation()
{
    return held_reservation;
}

void posix_release_name()
{
    if (held_reservation >= 0)
        (void)SYS(close)(held_reservation);
    held_reservation = -1;
}
