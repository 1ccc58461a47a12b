// Output name reservations on Linux: an abstract Unix socket, bound and
// never listening, named by the name's key. Abstract sockets belong to the
// network namespace, so runs of every user and session see each other's.
#include "base/text.h"
#include "platform/platform.h"
#include "platform/posix.h"

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

int posix_held_reservation()
{
    return held_reservation;
}

void platform_release_name()
{
    if (held_reservation >= 0)
        (void)close(held_reservation);
    held_reservation = -1;
}
