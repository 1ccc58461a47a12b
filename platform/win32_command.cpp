// Starting a command on Windows: through the command interpreter
// (system), or, for a text cmd.exe would read otherwise than its words say,
// directly with CreateProcess.
#include "platform/calls.h"
#include "platform/win32.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

// What the command interpreter gives for a program it cannot find.
const int STATUS_NOT_FOUND = 9009;
// The longest command line CreateProcessA takes, terminating zero included.
const size_t CREATE_PROCESS_LINE_CAP = 32768;
static_assert(COMMAND_TEXT_CAP <= CREATE_PROCESS_LINE_CAP, "every command text can be started directly");

// While a command runs, Ctrl-C and Ctrl-Break reach its program from the
// console (the capture program decides what they mean); the run itself
// goes on waiting, and gives the program's status. (A handler, not
// SetConsoleCtrlHandler(NULL, TRUE), which the program would inherit.)
BOOL WINAPI keep_waiting(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// True when cmd.exe would read the command text otherwise than its words
// say. It strips the quotation marks of a quoted program path. It expands
// %NAME% even inside double quotation marks, so a file name holding '%'
// would reach the capture program changed. Where the program path heads the
// text without quotation marks, cmd.exe takes ^ away, ends the command at
// & | < > (redirecting or starting another), and ( ) ; , = ! make it fail
// or read another name ("a^b\zarnivek.exe" starts "ab\zarnivek.exe"). The
// second byte of a double-byte character is none of them.
bool read_otherwise_by_cmd(const char* text)
{
    if (text[0] == '"' || strchr(text, '%'))
        return true;
    for (const char* p = text; *p && *p != ' ' && *p != '\t'; p++) {
        if (win32_is_lead_byte((unsigned char)*p) && p[1])
            p++;
        else if (strchr("^&|<>();,=!", *p))
            return true;
    }
    return false;
}

// Starts the program named by the first word of text, with text as its
// command line, and waits for it.
int start_directly(const Platform& os, const char* text)
{
    static char line[CREATE_PROCESS_LINE_CAP]; // CreateProcessA may write into its command line
    int n = snprintf(line, sizeof line, "%s", text);
    if (n < 0 || (size_t)n >= sizeof line)
        return -1;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!SYS(CreateProcessA)(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
            say(os.write_err, "cannot start '%.*s': not found\n", (int)QUOTE_MAX, text);
            return STATUS_NOT_FOUND;
        }
        char why[REASON_CAP];
        win32_error_text(err, why, sizeof why);
        say(os.write_err, "cannot start '%.*s': %s\n", (int)QUOTE_MAX, text, why);
        return -1;
    }
    (void)SYS(CloseHandle)(pi.hThread);
    DWORD code = (DWORD)-1;
    // A wait that fails otherwise than by the program's end is made again.
    DWORD waited = WAIT_FAILED;
    for (int tries = 0; tries < 3 && waited != WAIT_OBJECT_0; tries++)
        waited = SYS(WaitForSingleObject)(pi.hProcess, INFINITE);
    // The program ran: a status that cannot be had is said, never taken
    // for one the program gave.
    if (waited != WAIT_OBJECT_0 || !SYS(GetExitCodeProcess)(pi.hProcess, &code)) {
        char why[REASON_CAP];
        win32_error_text(GetLastError(), why, sizeof why);
        say(os.write_err, "cannot tell how '%.*s' ended: %s\n", (int)QUOTE_MAX, text, why);
        code = (DWORD)-1;
    }
    (void)SYS(CloseHandle)(pi.hProcess);
    return (int)code;
}

} // namespace

int win32_run_command(const Platform& os, const char* text)
{
    // The output name's reservation, if one is held, goes to the program
    // (through cmd.exe too): its name stays taken while the program runs,
    // however this run ends. No other handle is made inheritable.
    for (int i = 0; i < 2; i++)
        if (win32_held_reservation(i))
            (void)SYS(SetHandleInformation)(win32_held_reservation(i), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    (void)SYS(SetConsoleCtrlHandler)(keep_waiting, TRUE);
    int status = 0;
    if (read_otherwise_by_cmd(text)) {
        status = start_directly(os, text);
    } else {
        // COMSPEC, else CMD.EXE, with "/c"; -1 when no interpreter can be started.
        status = SYS(system)(text); // NOLINT(cert-env33-c): running the command interpreter is the point
        if (status == -1)
            say(os.write_err, "cannot start the command interpreter: %s\n", strerror(errno));
    }
    (void)SYS(SetConsoleCtrlHandler)(keep_waiting, FALSE);
    return status;
}