// Output name reservations on Linux: abstract Unix sockets, bound and never
// listening, named by the name's keys. Abstract sockets belong to the
// network namespace, so runs of every user and session see each other's.
// The capture program inherits the sockets (posix_command.cpp), so the name
// stays taken while it or what it leaves running holds them, however the
// run ends.
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

// An abstract socket's name: the bytes of sun_path after its leading zero.
const size_t SOCKET_NAME_MAX = sizeof(sockaddr_un{}.sun_path) - 1;
static_assert(SOCKET_NAME_MAX < RESERVATION_KEY_CAP, "every key fits its text");
// "<device>.<inode>/<name>": two 64-bit numbers in hex and a file name.
const size_t IDENTITY_CAP = 2 * 16 + 2 + NAME_MAX + 1;
// The current directory and a name, joined.
const size_t ABSOLUTE_CAP = PATH_MAX + OUTPUT_NAME_CAP + 1;

// The sockets of the reservation this run holds; -1 where none.
int held[2] = {-1, -1};

// Appends the parts of name to path (which ends without a separator, "" for
// the root), leaving out empty and "." parts, and taking ".." as the part
// before it; false when the result does not fit.
bool append_parts(char (&path)[ABSOLUTE_CAP], size_t len, const char* name)
{
    for (const char* part = name; *part;) {
        size_t n = strcspn(part, "/");
        if (n == 2 && part[0] == '.' && part[1] == '.') {
            while (len > 0 && path[len - 1] != '/')
                len--;
            len = len > 0 ? len - 1 : 0;
        } else if (n > 0 && !(n == 1 && part[0] == '.')) {
            if (len + 1 + n >= sizeof path)
                return false;
            path[len++] = '/';
            memcpy(path + len, part, n);
            len += n;
        }
        part += n + (part[n] == '/');
    }
    path[len] = '\0';
    return true;
}

// The path key: the name made absolute from the current directory. 0, or
// the error number.
int path_key(const char* name, char* key, size_t key_cap)
{
    char path[ABSOLUTE_CAP] = "";
    size_t len = 0;
    if (name[0] != '/') {
        if (!SYS(getcwd)(path, PATH_MAX))
            return errno;
        len = strcmp(path, "/") == 0 ? 0 : strlen(path);
    }
    if (!append_parts(path, len, name))
        return ENAMETOOLONG;
    return text_object_name(path, SOCKET_NAME_MAX, key, key_cap) ? 0 : ENAMETOOLONG;
}

// The identity key: the directory as given (the name itself is never
// followed) by its device and inode numbers, and the file's own name. 0,
// ENOENT or ENOTDIR for a directory that does not exist, or the error number.
int identity_key(const char* name, char* key, size_t key_cap)
{
    const char* slash = strrchr(name, '/');
    const char* file = slash ? slash + 1 : name;
    char dir[OUTPUT_NAME_CAP] = ".";
    if (slash) {
        size_t len = (size_t)(slash - name) + 1; // its last '/' kept: "/" is the root
        if (len >= sizeof dir)
            return ENAMETOOLONG;
        memcpy(dir, name, len);
        dir[len] = '\0';
    }
    struct stat st = {};
    if (SYS(stat)(dir, &st) != 0)
        return errno;
    if (strlen(file) > NAME_MAX)
        return ENAMETOOLONG;
    char identity[IDENTITY_CAP];
    (void)snprintf(identity, sizeof identity, "%llx.%llx/%s", (unsigned long long)st.st_dev,
                   (unsigned long long)st.st_ino, file); // fits: see IDENTITY_CAP
    return text_object_name(identity, SOCKET_NAME_MAX, key, key_cap) ? 0 : ENAMETOOLONG;
}

// Binds a socket to key: RESERVED with its descriptor in *fd, or as it failed.
Reservation bind_key(const char* key, int* fd, char* why, size_t why_cap)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    size_t len = strlen(key); // fits: a key is kept to SOCKET_NAME_MAX
    memcpy(addr.sun_path + 1, key, len);
    // Close-on-exec: of the programs this run starts, only the capture
    // program gets it.
    *fd = SYS(socket)(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (*fd < 0) {
        posix_error_text(errno, why, why_cap);
        return RESERVATION_UNAVAILABLE;
    }
    if (SYS(bind)(*fd, (const sockaddr*)&addr, (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + len)) == 0)
        return RESERVED;
    int err = errno;
    (void)SYS(close)(*fd);
    *fd = -1;
    if (err == EADDRINUSE)
        return RESERVATION_TAKEN;
    posix_error_text(err, why, why_cap);
    return RESERVATION_UNAVAILABLE;
}

} // namespace

KeysFormed reservation_keys(const char* name, ReservationKeys* keys, char* why, size_t why_cap)
{
    int err = path_key(name, keys->path, sizeof keys->path);
    int dir_err = err ? 0 : identity_key(name, keys->identity, sizeof keys->identity);
    if (dir_err == ENOENT || dir_err == ENOTDIR)
        return KEYS_PATH_ONLY; // no directory yet: no file is there, nor an identity
    if (err || dir_err) {
        posix_error_text(err ? err : dir_err, why, why_cap);
        return KEYS_UNKNOWN;
    }
    return KEYS_BOTH;
}

Reservation posix_reserve_name(const char* name, char* why, size_t why_cap)
{
    ReservationKeys keys = {};
    KeysFormed formed = reservation_keys(name, &keys, why, why_cap);
    if (formed == KEYS_UNKNOWN)
        return RESERVATION_UNAVAILABLE;
    int fds[2] = {-1, -1};
    Reservation r = bind_key(keys.path, &fds[0], why, why_cap);
    if (r == RESERVED && formed == KEYS_BOTH)
        r = bind_key(keys.identity, &fds[1], why, why_cap);
    if (r != RESERVED) {
        if (fds[0] >= 0)
            (void)SYS(close)(fds[0]);
        return r;
    }
    posix_release_name();
    held[0] = fds[0];
    held[1] = fds[1];
    return RESERVED;
}

int posix_held_reservation(int i)
{
    return i >= 0 && i < 2 ? held[i] : -1;
}

void posix_release_name()
{
    for (int& fd : held) {
        if (fd >= 0)
            (void)SYS(close)(fd);
        fd = -1;
    }
}
