// Files on Windows: the status query, the settings file through the C
// runtime, and whether a program can be started or a file created in a
// directory, through the wide Win32 functions.
#include "platform/calls.h"
#include "platform/win32.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

FileStatus win32_file_status(const char* path, char* why, size_t why_cap)
{
    // The entry itself: a link counts, however it dangles. The wide function
    // on the wide name: the ANSI one stays kept to MAX_PATH even after "\\?\".
    const wchar_t* w = win32_wide(path);
    if (w && SYS(GetFileAttributesW)(w) != INVALID_FILE_ATTRIBUTES)
        return ENTRY_PRESENT;
    DWORD err = GetLastError();
    if (w && (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND))
        return ENTRY_ABSENT;
    win32_error_text(err, why, why_cap);
    return ENTRY_UNKNOWN;
}

int win32_open_regular(const char* path, char* why, size_t why_cap)
{
    int fd = SYS(_open)(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        (void)snprintf(why, why_cap, "%s", strerror(errno));
        return -1;
    }
    struct _stat st = {};
    if (SYS(_fstat)(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG)
        return fd;
    (void)snprintf(why, why_cap, "it is no regular file");
    (void)SYS(_close)(fd);
    return -1;
}

long win32_read(int fd, char* buf, size_t cap, char* why, size_t why_cap)
{
    // _read takes an unsigned count; a settings chunk is far below its limit.
    for (;;) {
        int n = SYS(_read)(fd, buf, (unsigned)cap);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            (void)snprintf(why, why_cap, "%s", strerror(errno));
            return -1;
        }
    }
}

void win32_close(int fd)
{
    (void)SYS(_close)(fd); // opened for reading: nothing is lost when closing fails
}

namespace {

// The attributes of path, or INVALID_FILE_ATTRIBUTES with the reason in why.
DWORD attributes(const char* path, char* why, size_t why_cap)
{
    const wchar_t* w = win32_wide(path);
    DWORD attrs = w ? SYS(GetFileAttributesW)(w) : INVALID_FILE_ATTRIBUTES;
    if (attrs == INVALID_FILE_ATTRIBUTES)
        win32_error_text(GetLastError(), why, why_cap);
    return attrs;
}

} // namespace

bool win32_can_run(const char* path, char* why, size_t why_cap)
{
    DWORD attrs = attributes(path, why, why_cap);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        (void)snprintf(why, why_cap, "it is a directory");
        return false;
    }
    // A program file begins "MZ" and names its PE header, which begins "PE\0\0".
    const wchar_t* w = win32_wide(path);
    HANDLE file = w ? SYS(CreateFileW)(w, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                       nullptr)
                    : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        win32_error_text(GetLastError(), why, why_cap);
        return false;
    }
    unsigned char head[4096];
    DWORD n = 0;
    BOOL read = SYS(ReadFile)(file, head, sizeof head, &n, nullptr);
    DWORD err = read ? 0 : GetLastError();
    (void)SYS(CloseHandle)(file);
    if (!read) { // a file that cannot be read is not thereby no program
        win32_error_text(err, why, why_cap);
        return false;
    }
    DWORD pe = n >= 0x40 ? (DWORD)head[0x3C] | (DWORD)head[0x3D] << 8 | (DWORD)head[0x3E] << 16 | (DWORD)head[0x3F] << 24
                         : 0;
    bool program = n >= 0x40 && head[0] == 'M' && head[1] == 'Z' && pe <= n - 4 && // no sum to wrap round
                   memcmp(head + pe, "PE\0\0", 4) == 0;
    if (!program)
        (void)snprintf(why, why_cap, "it is no program this system can start");
    return program;
}

bool win32_can_create_in(const char* dir, char* why, size_t why_cap)
{
    // Whether this user may create a file there only trying tells: a file of
    // its own, made and deleted at once.
    DWORD attrs = attributes(*dir ? dir : ".", why, why_cap);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        (void)snprintf(why, why_cap, "it is no directory");
        return false;
    }
    char probe[OUTPUT_NAME_CAP + 64];
    (void)snprintf(probe, sizeof probe, "%squellatorbin-check-%lu.tmp", dir, (unsigned long)SYS(GetCurrentProcessId)());
    const wchar_t* w = win32_wide(probe);
    HANDLE file = w ? SYS(CreateFileW)(w, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                    : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
        win32_error_text(GetLastError(), why, why_cap);
        return false;
    }
    if (file != INVALID_HANDLE_VALUE)
        (void)SYS(CloseHandle)(file);
    return true;
}