// Output name reservations on Windows: a named mutex, named by the name's
// key. In the Global\ namespace, runs of every user and session see each
// other's. The capture program inherits the mutex (win32_command.cpp), so
// the name stays taken while it runs, however the run ends.
#include "base/text.h"
#include "platform/calls.h"
#include "platform/reservation_key.h"
#include "platform/win32.h"

#include <stdio.h>

namespace {

// The output name's reservation this run holds (a mutex), or null.
HANDLE held_reservation = nullptr;

const wchar_t* const NAMESPACES[] = {L"Global\\", L"Local\\"};
// A kernel object's name holds at most MAX_PATH - 1 characters, the
// namespace included; a key of so many bytes in UTF-8 has no more.
const size_t MUTEX_KEY_MAX = MAX_PATH - 1 - (sizeof "Global\\" - 1);
static_assert(MUTEX_KEY_MAX < RESERVATION_KEY_CAP, "every key fits its text");

} // namespace

void win32_release_name()
{
    if (held_reservation)
        (void)SYS(CloseHandle)(held_reservation);
    held_reservation = nullptr;
}

Reservation win32_reserve_name(const char* name, char* why, size_t why_cap)
{
    char key[RESERVATION_KEY_CAP];
    wchar_t wide_key[RESERVATION_KEY_CAP];
    if (!reservation_key(name, key, sizeof key, why, why_cap))
        return RESERVATION_UNAVAILABLE;
    if (SYS(MultiByteToWideChar)(CP_UTF8, 0, key, -1, wide_key, (int)RESERVATION_KEY_CAP) == 0) {
        win32_error_text(GetLastError(), why, why_cap);
        return RESERVATION_UNAVAILABLE;
    }
    DWORD err = 0;
    for (const wchar_t* space : NAMESPACES) {
        wchar_t object[MAX_PATH];
        (void)_snwprintf(object, MAX_PATH, L"%ls%ls", space, wide_key); // fits: see MUTEX_KEY_MAX
        object[MAX_PATH - 1] = L'\0';
        // Not inheritable, until the capture program starts (run_command).
        HANDLE mutex = SYS(CreateMutexW)(nullptr, FALSE, object);
        err = GetLastError();
        if (mutex && err == ERROR_ALREADY_EXISTS) {
            (void)SYS(CloseHandle)(mutex);
            return RESERVATION_TAKEN;
        }
        if (mutex) {
            win32_release_name();
            held_reservation = mutex;
            return RESERVED;
        }
        // Held by a run of another user, whose object this one may not open.
        if (err == ERROR_ACCESS_DENIED)
            return RESERVATION_TAKEN;
        // Local\ only where this system has no Global\ namespace: after any
        // other failure a Local\ mutex would never meet the Global\ one
        // another run may hold, and the name would be handed over twice.
        if (err != ERROR_PATH_NOT_FOUND)
            break;
    }
    win32_error_text(err, why, why_cap);
    return RESERVATION_UNAVAILABLE;
}

HANDLE win32_held_reservation()
{
    return held_reservation;
}

bool reservation_key(const char* name, char* key, size_t key_cap, char* why, size_t why_cap)
{
    static wchar_t full[WIDE_PATH_CAP], upper[WIDE_PATH_CAP];
    static char file[WIDE_PATH_CAP * 3];
    static char identity[WIDE_PATH_CAP * 3 + 32];
    why[0] = '\0';
    wchar_t* base = nullptr;
    const wchar_t* w = win32_wide(name);
    DWORD n = w ? SYS(GetFullPathNameW)(w, (DWORD)WIDE_PATH_CAP, full, &base) : 0;
    if (n == 0 || n >= WIDE_PATH_CAP || !base || base == full) {
        (void)snprintf(why, why_cap, "its full path cannot be had");
        return false;
    }
    // A name that is a link (a reparse point) is taken as it exists, however
    // it dangles: it needs no key.
    DWORD attrs = SYS(GetFileAttributesW)(full);
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    // The directory by its identity, which every route to it shares (a
    // junction, a link, a substituted drive, a short name, one share under
    // two server names), and the file's own name in the system's upper case,
    // as letter case does not matter to the file system.
    wchar_t first = *base;
    *base = L'\0'; // the directory, its last separator kept: "C:\" is a root
    HANDLE dir = SYS(CreateFileW)(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    *base = first;
    if (dir == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND)
            win32_error_text(err, why, why_cap); // no directory: no key, and no reason
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    BOOL known = SYS(GetFileInformationByHandle)(dir, &info);
    DWORD err = GetLastError();
    (void)SYS(CloseHandle)(dir);
    int len = known ? SYS(LCMapStringW)(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, base, -1, upper, (int)WIDE_PATH_CAP) : 0;
    if (len <= 0 || SYS(WideCharToMultiByte)(CP_UTF8, 0, upper, -1, file, (int)sizeof file, nullptr, nullptr) == 0) {
        win32_error_text(known ? GetLastError() : err, why, why_cap);
        return false;
    }
    (void)snprintf(identity, sizeof identity, "%08lx.%08lx%08lx/%s", (unsigned long)info.dwVolumeSerialNumber,
                   (unsigned long)info.nFileIndexHigh, (unsigned long)info.nFileIndexLow, file); // fits: see its capacity
    return text_object_name(identity, MUTEX_KEY_MAX, key, key_cap);
}