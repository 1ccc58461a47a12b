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
        // The C runtime refuses to open a directory as it refuses a file
        // closed to this user: the attributes tell which.
        int err = errno;
        const wchar_t* w = err == EACCES ? win32_wide(path) : nullptr;
        DWORD attrs = w ? SYS(GetFileAttributesW)(w) : INVALID_FILE_ATTRIBUTES;
        bool dir = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
        (void)snprintf(why, why_cap, "%s", dir ? "it is a directory" : strerror(err));
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

// The machine this program is built for.
#ifdef _WIN64
const WORD OWN_MACHINE = IMAGE_FILE_MACHINE_AMD64;
#else
const WORD OWN_MACHINE = IMAGE_FILE_MACHINE_I386;
#endif
// The handle of the current process, as GetCurrentProcess gives it.
void* const CURRENT_PROCESS = reinterpret_cast<void*>(-1); // NOLINT(performance-no-int-to-ptr): its documented value

// The machine of this system's own processor (IMAGE_FILE_MACHINE_*).
// IsWow64Process2 (Windows 10 1511 on; looked up, as Windows 7 lacks it)
// tells it; GetNativeSystemInfo shows a program that an ARM64 system
// emulates the machine it emulates, but a system without IsWow64Process2
// emulates none.
WORD native_machine()
{
    typedef BOOL(WINAPI * Wow64Process2)(HANDLE, USHORT*, USHORT*);
    HMODULE kernel = SYS(GetModuleHandleW)(L"kernel32.dll");
    FARPROC found = kernel ? SYS(GetProcAddress)(kernel, "IsWow64Process2") : nullptr;
    USHORT process = 0, native = 0;
    auto is_wow64_process2 = reinterpret_cast<Wow64Process2>(reinterpret_cast<void*>(found));
    if (found && is_wow64_process2(CURRENT_PROCESS, &process, &native) && native != 0)
        return native;
    SYSTEM_INFO info = {};
    SYS(GetNativeSystemInfo)(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64: return IMAGE_FILE_MACHINE_ARM64;
    case PROCESSOR_ARCHITECTURE_ARM: return IMAGE_FILE_MACHINE_ARMNT;
    case PROCESSOR_ARCHITECTURE_IA64: return IMAGE_FILE_MACHINE_IA64;
    default: return IMAGE_FILE_MACHINE_I386;
    }
}

// Whether a 64-bit system has the part that runs 32-bit x86 programs: its
// directory for them holds kernel32.dll. Only a system that has no such
// directory, or one without that file, has none; one that cannot say is
// taken to have it.
bool runs_32_bit_x86()
{
    static const wchar_t KERNEL32[] = L"\\kernel32.dll";
    wchar_t path[MAX_PATH + 16];
    static_assert(sizeof KERNEL32 <= 16 * sizeof(wchar_t), "the file's name fits after the directory's");
    UINT n = SYS(GetSystemWow64DirectoryW)(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) // none, or one whose name does not fit here
        return n != 0 || GetLastError() != ERROR_CALL_NOT_IMPLEMENTED;
    memcpy(path + n, KERNEL32, sizeof KERNEL32);
    if (SYS(GetFileAttributesW)(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD err = GetLastError();
    return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
}

// Why this system cannot start a program of machine m ("" when it can): a
// 64-bit x86 system runs 32-bit x86 programs where it has the part for
// them; an ARM64 one runs x86 programs too (64-bit ones from Windows 11 on,
// which is not told apart: taken as yes) and 32-bit ARM ones.
const char* machine_problem(WORD m)
{
    const WORD native = m == OWN_MACHINE ? m : native_machine();
    const bool arm64 = native == IMAGE_FILE_MACHINE_ARM64;
    bool runs = m == native || (m == IMAGE_FILE_MACHINE_I386 && runs_32_bit_x86()) ||
                (arm64 && (m == IMAGE_FILE_MACHINE_AMD64 || m == IMAGE_FILE_MACHINE_ARMNT));
    if (runs)
        return "";
    if (m == IMAGE_FILE_MACHINE_I386 || (m == IMAGE_FILE_MACHINE_AMD64 && native == IMAGE_FILE_MACHINE_I386))
        return m == IMAGE_FILE_MACHINE_I386 ? "it is a 32-bit program, and this system starts none"
                                            : "it is a 64-bit program, and this system starts none";
    return "it is a program for another kind of processor";
}

// The unsigned number of size bytes at p, the least significant first.
DWORD little_endian(const unsigned char* p, int size)
{
    DWORD value = 0;
    for (int i = 0; i < size; i++)
        value |= (DWORD)p[i] << (8 * i);
    return value;
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
    // A program file begins "MZ" and names its PE header, which begins
    // "PE\0\0" and the file header: the machine, and whether it is a DLL.
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
    const size_t HEADERS = 4 + sizeof(IMAGE_FILE_HEADER);
    DWORD pe = n >= 0x40 ? little_endian(head + 0x3C, 4) : 0;
    bool program = n >= 0x40 && head[0] == 'M' && head[1] == 'Z' && pe <= n - HEADERS && // no sum to wrap round
                   memcmp(head + pe, "PE\0\0", 4) == 0 && !(little_endian(head + pe + 22, 2) & IMAGE_FILE_DLL);
    (void)snprintf(why, why_cap, "%s",
                   program ? machine_problem((WORD)little_endian(head + pe + 4, 2))
                           : "it is no program this system can start");
    return why[0] == '\0';
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