// Output name reservations on Windows: named mutexes, named by the name's
// keys. In the Global\ namespace, runs of every user and session see each
// other's. The capture program inherits the mutexes (win32_command.cpp), so
// the name stays taken while it runs, however the run ends.
#include "base/text.h"
#include "platform/calls.h"
#include "platform/reservation_key.h"
#include "platform/win32.h"

#include <stdio.h>

namespace {

// The mutexes of the reservation this run holds; null where none.
HANDLE held[2] = {nullptr, nullptr};

const wchar_t* const NAMESPACES[] = {L"Global\\", L"Local\\"};
// A kernel object's name holds at most MAX_PATH - 1 characters, the
// namespace included; a key of so many bytes in UTF-8 has no more.
const size_t MUTEX_KEY_MAX = MAX_PATH - 1 - (sizeof "Global\\" - 1);
static_assert(MUTEX_KEY_MAX < RESERVATION_KEY_CAP, "every key fits its text");

// Writes the UTF-8 bytes of wide text in the system's upper case (letter
// case does not matter to the file system) into out: false, with the
// reason, when that cannot be had.
bool upper_utf8(const wchar_t* text, char* out, size_t out_cap, char* why, size_t why_cap)
{
    static wchar_t upper[WIDE_PATH_CAP];
    if (SYS(LCMapStringW)(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, text, -1, upper, (int)WIDE_PATH_CAP) > 0 &&
        SYS(WideCharToMultiByte)(CP_UTF8, 0, upper, -1, out, (int)out_cap, nullptr, nullptr) > 0)
        return true;
    win32_error_text(GetLastError(), why, why_cap);
    return false;
}

// The identity key of the name whose full path is full, its own name
// starting at base: the directory by its identity, which every route to it
// shares (a junction, a link, a substituted drive, a short name, one share
// under two server names), and the file's own name.
KeysFormed identity_key(wchar_t* full, wchar_t* base, char* key, size_t key_cap, char* why, size_t why_cap)
{
    static char file[WIDE_PATH_CAP * 3];
    static char identity[WIDE_PATH_CAP * 3 + 32];
    wchar_t first = *base;
    *base = L'\0'; // the directory, its last separator kept: "C:\" is a root
    HANDLE dir = SYS(CreateFileW)(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    *base = first;
    if (dir == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return KEYS_PATH_ONLY; // no directory yet: no file is there, nor an identity
        win32_error_text(err, why, why_cap);
        return KEYS_UNKNOWN;
    }
    BY_HANDLE_FILE_INFORMATION info;
    BOOL known = SYS(GetFileInformationByHandle)(dir, &info);
    DWORD err = GetLastError();
    (void)SYS(CloseHandle)(dir);
    if (!known) {
        win32_error_text(err, why, why_cap);
        return KEYS_UNKNOWN;
    }
    if (!upper_utf8(base, file, sizeof file, why, why_cap))
        return KEYS_UNKNOWN;
    (void)snprintf(identity, sizeof identity, "%08lx.%08lx%08lx/%s", (unsigned long)info.dwVolumeSerialNumber,
                   (unsigned long)info.nFileIndexHigh, (unsigned long)info.nFileIndexLow, file); // fits: see its capacity
    return text_object_name(identity, MUTEX_KEY_MAX, key, key_cap) ? KEYS_BOTH : KEYS_UNKNOWN;
}

// Makes the mutex named by key: RESERVED with it in *mutex, or as it failed.
Reservation take_mutex(const char* key, HANDLE* mutex, char* why, size_t why_cap)
{
    wchar_t wide_key[RESERVATION_KEY_CAP];
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
        *mutex = SYS(CreateMutexW)(nullptr, FALSE, object);
        err = GetLastError();
        if (*mutex && err == ERROR_ALREADY_EXISTS) {
            (void)SYS(CloseHandle)(*mutex);
            *mutex = nullptr;
            return RESERVATION_TAKEN;
        }
        if (*mutex)
            return RESERVED;
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

} // namespace

KeysFormed reservation_keys(const char* name, ReservationKeys* keys, char* why, size_t why_cap)
{
    static wchar_t full[WIDE_PATH_CAP];
    static char path[WIDE_PATH_CAP * 3];
    wchar_t* base = nullptr;
    const wchar_t* w = win32_wide(name);
    // The full path: made absolute, "." and ".." parts and repeated
    // separators taken out.
    DWORD n = w ? SYS(GetFullPathNameW)(w, (DWORD)WIDE_PATH_CAP, full, &base) : 0;
    if (n == 0 || n >= WIDE_PATH_CAP || !base || base == full) {
        (void)snprintf(why, why_cap, "its full path cannot be had");
        return KEYS_UNKNOWN;
    }
    // A kernel object's name holds no '\' past its namespace.
    static wchar_t slashed[WIDE_PATH_CAP];
    for (DWORD i = 0; i <= n; i++)
        slashed[i] = full[i] == L'\\' ? L'/' : full[i];
    if (!upper_utf8(slashed, path, sizeof path, why, why_cap) ||
        !text_object_name(path, MUTEX_KEY_MAX, keys->path, sizeof keys->path))
        return KEYS_UNKNOWN;
    return identity_key(full, base, keys->identity, sizeof keys->identity, why, why_cap);
}

Reservation win32_reserve_name(const char* name, char* why, size_t why_cap)
{
    ReservationKeys keys = {};
    KeysFormed formed = reservation_keys(name, &keys, why, why_cap);
    if (formed == KEYS_UNKNOWN)
        return RESERVATION_UNAVAILABLE;
    HANDLE mutexes[2] = {nullptr, nullptr};
    Reservation r = take_mutex(keys.path, &mutexes[0], why, why_cap);
    if (r == RESERVED && formed == KEYS_BOTH)
        r = take_mutex(keys.identity, &mutexes[1], why, why_cap);
    if (r != RESERVED) {
        if (mutexes[0])
            (void)SYS(CloseHandle)(mutexes[0]);
        return r;
    }
    win32_release_name();
    held[0] = mutexes[0];
    held[1] = mutexes[1];
    return RESERVED;
}

void win32_release_name()
{
    for (HANDLE& mutex : held) {
        if (mutex)
            (void)SYS(CloseHandle)(mutex);
        mutex = nullptr;
    }
}

HANDLE win32_held_reservation(int i)
{
    return i >= 0 && i < 2 ? held[i] : nullptr;
}
