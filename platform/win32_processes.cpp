// The process table on Windows: a Toolhelp snapshot, through which a
// process of an image name is also ended. Image names compare without
// regard to case, as Windows compares file names.
#include "base/text.h"
#include "platform/calls.h"
#include "platform/win32.h"

#include <stdio.h>

namespace {

// How long an ended process is waited for before the table is read again.
const DWORD END_WAIT_MS = 5000;
// The processes one look ended, by number: the first ENDED_KEPT of them.
const int ENDED_KEPT = 64;

struct Ended {
    int count;
    DWORD id[ENDED_KEPT];
};

// Whether process id is one of those ended; with more than it kept, any
// process of the name may be.
bool among(const Ended& ended, DWORD id)
{
    for (int i = 0; i < ended.count && i < ENDED_KEPT; i++)
        if (ended.id[i] == id)
            return true;
    return ended.count > ENDED_KEPT;
}

// Opens process id with the right to end it, as taskkill /F ends it, and
// with end ends it and waits for it to go: 0, or the error that kept it
// from either. TerminateProcess may succeed on a process it does not end (a
// 64-bit one, for a 32-bit run on some systems): only its end tells; *stays
// when it was still there when the wait ran out. A wait that fails leaves
// that to the table, read again.
DWORD end_one(DWORD id, bool end, bool* stays)
{
    *stays = false;
    HANDLE process = SYS(OpenProcess)(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (!process)
        return GetLastError();
    DWORD err = 0;
    if (end && SYS(TerminateProcess)(process, 1))
        *stays = SYS(WaitForSingleObject)(process, END_WAIT_MS) == WAIT_TIMEOUT;
    else if (end)
        err = GetLastError();
    (void)SYS(CloseHandle)(process);
    return err;
}

// Looks at every other process of the image name in one snapshot and, with
// end, ends each by force and waits for it to go. Counts in *found those it
// ended (or, without end, could end); false when the snapshot cannot be
// read whole, with the reason in why. *not_endable counts the others: those
// it may not end, and those still there when the wait for their end ran out.
// With end, the numbers of those it ended go into *ended; with only, it looks
// at no process but those.
bool look(const char* image, bool end, int* found, int* not_endable, char* why, size_t why_cap,
          Ended* ended = nullptr, const Ended* only = nullptr)
{
    *found = *not_endable = 0;
    HANDLE snapshot = SYS(CreateToolhelp32Snapshot)(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        win32_error_text(GetLastError(), why, why_cap);
        return false;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD self = SYS(GetCurrentProcessId)();
    BOOL more = SYS(Process32First)(snapshot, &entry);
    for (; more; more = SYS(Process32Next)(snapshot, &entry)) {
        if (!text_starts_any_case(entry.szExeFile, image, true) || entry.th32ProcessID == self ||
            (only && !among(*only, entry.th32ProcessID)))
            continue;
        bool stays = false;
        DWORD err = end_one(entry.th32ProcessID, end, &stays);
        if (stays || (err != 0 && err != ERROR_INVALID_PARAMETER)) { // that one has ended meanwhile
            if (*not_endable == 0 && stays)
                (void)snprintf(why, why_cap, "it still runs after it was ended");
            else if (*not_endable == 0)
                win32_error_text(err, why, why_cap);
            (*not_endable)++;
        } else if (err == 0) {
            if (ended && *found < ENDED_KEPT)
                ended->id[*found] = entry.th32ProcessID;
            (*found)++;
        }
    }
    DWORD err = GetLastError();
    (void)SYS(CloseHandle)(snapshot);
    if (err != ERROR_NO_MORE_FILES) {
        win32_error_text(err, why, why_cap);
        return false;
    }
    return true;
}

} // namespace

ImageState win32_image_state(const char* image, char* why, size_t why_cap)
{
    int found = 0, not_endable = 0;
    if (!look(image, false, &found, &not_endable, why, why_cap))
        return IMAGE_UNKNOWN;
    return not_endable ? IMAGE_NOT_ENDABLE : found ? IMAGE_RUNNING : IMAGE_NOT_RUNNING;
}

StopResult win32_end_image(const char* image, int* ended, char* why, size_t why_cap)
{
    // Ended through the snapshot, never by a taskkill found by search order
    // (cmd.exe looks in the current directory first), and then read again:
    // what still runs of those it ended, a 64-bit program a 32-bit run could
    // not end among them, was not ended. (One of the name started meanwhile
    // is a new one: the caller looks.)
    Ended gone = {};
    int not_endable = 0, left = 0;
    if (!look(image, true, ended, &not_endable, why, why_cap, &gone))
        return STOP_CANNOT_TELL;
    if (not_endable)
        return STOP_NOT_ALL_ENDED;
    gone.count = *ended;
    if (*ended && !look(image, false, &left, &not_endable, why, why_cap, nullptr, &gone))
        return STOP_CANNOT_TELL;
    if (left || not_endable) {
        // As many as still run were not ended, as far as anyone can tell.
        *ended = *ended > left ? *ended - left : 0;
        (void)snprintf(why, why_cap, "it still runs after it was ended");
        return STOP_NOT_ALL_ENDED;
    }
    return *ended ? STOP_ENDED : STOP_NONE;
}
