// The platform layer on Windows, and the table of every operation: the
// console (bytes unchanged on a console), the program path from the module,
// the rules of names in the ANSI code page, the time zone, files through the
// C runtime and the wide Win32 functions, the process table (a Toolhelp
// snapshot, which also ends processes), the command interpreter (cmd.exe, or
// CreateProcess for a text cmd.exe would misread), and output name
// reservations (named mutexes). Every system call goes through the fault
// table (SYS, platform/calls.h).
#include "base/text.h"
#include "platform/calls.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/reservation_key.h"

#include <errno.h>
#include <string.h>

namespace {

// What the command interpreter gives for a program it cannot find.
const int STATUS_NOT_FOUND = 9009;
// The longest command line CreateProcessA takes, terminating zero included.
const size_t CREATE_PROCESS_LINE_CAP = 32768;
static_assert(COMMAND_TEXT_CAP <= CREATE_PROCESS_LINE_CAP, "every command text can be started directly");
// Console text goes out in writes of at most this many bytes.
const size_t CONSOLE_CHUNK_CAP = 4096;
// A name in UTF-16: GetFullPathNameW and the wide functions, unlike the
// ANSI ones, are not kept to MAX_PATH characters.
const size_t WIDE_PATH_CAP = 2048;
// How long an ended process is waited for before the table is read again.
const DWORD END_WAIT_MS = 5000;

char stdout_buffer[STDOUT_BLOCK];
// Standard output when it is a character device (the console), else null.
HANDLE console_out = nullptr;
// The output name's reservation this run holds (a mutex), or null.
HANDLE held_reservation = nullptr;
// The program's arguments, as main received them.
int kept_argc = 0;
char** kept_argv = nullptr;

// The system's text for an error number of GetLastError.
void error_text(DWORD err, char* why, size_t why_cap)
{
    DWORD n = SYS(FormatMessageA)(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, why,
                                  (DWORD)why_cap, nullptr);
    while (n > 0 && (why[n - 1] == '\r' || why[n - 1] == '\n' || why[n - 1] == ' '))
        n--; // the text ends with a line break
    if (n == 0)
        n = (DWORD)snprintf(why, why_cap, "error %lu", (unsigned long)err);
    why[n < why_cap ? n : why_cap - 1] = '\0';
}

// name in UTF-16, from the ANSI code page, in a buffer that the next call
// writes over; null (GetLastError tells why) when it cannot be converted.
const wchar_t* wide(const char* name)
{
    static wchar_t out[WIDE_PATH_CAP];
    return SYS(MultiByteToWideChar)(CP_ACP, 0, name, -1, out, (int)WIDE_PATH_CAP) > 0 ? out : nullptr;
}

// --- Console

void write_out(const char* text, size_t len)
{
    if (!console_out) {
        (void)SYS(fwrite)(text, 1, len, stdout); // a console write has no one to report to
        return;
    }
    // A C runtime may pass console text through its own locale, byte by
    // byte, which turns the stop message's Shift_JIS into other characters.
    // The console gets the bytes as they are, in one write so that no
    // double-byte character is split, with a carriage return before each
    // line feed as in text mode. Messages are far shorter than the buffer.
    static char line[CONSOLE_CHUNK_CAP];
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        if (n + 2 > sizeof line) {
            DWORD done = 0;
            (void)SYS(WriteFile)(console_out, line, (DWORD)n, &done, nullptr);
            n = 0;
        }
        if (text[i] == '\n')
            line[n++] = '\r';
        line[n++] = text[i];
    }
    DWORD done = 0;
    (void)SYS(WriteFile)(console_out, line, (DWORD)n, &done, nullptr);
}

void write_err(const char* text, size_t len)
{
    (void)SYS(fwrite)(text, 1, len, stderr);
}

// --- The program's directory and the rules of its paths

bool is_lead_byte(unsigned char c)
{
    return SYS(IsDBCSLeadByte)(c) != FALSE;
}

bool program_dir(char* out, size_t out_cap)
{
    char path[PROGRAM_PATH_QUERY];
    if (out_cap < sizeof path)
        return false;
    // A path that fills the buffer was cut: whether a zero follows differs
    // between Windows versions, so the length alone decides.
    DWORD n = SYS(GetModuleFileNameA)(nullptr, path, (DWORD)sizeof path);
    if (n == 0 || n >= sizeof path)
        return false;
    path[n] = '\0';
    // In a double-byte code page (932 and others) the second byte of a
    // character may be 0x5C: each character is stepped over as a whole.
    const char* last = text_last_of(path, "\\", is_lead_byte);
    if (!last)
        return false;
    size_t len = (size_t)(last - path) + 1;
    memcpy(out, path, len);
    out[len] = '\0';
    return true;
}

// Look-alikes of characters a code page may lack, as Windows' own best fit
// gives them for the code page that has them (Wine gives '?' instead).
const wchar_t LOOK_ALIKES[][2] = {
    {0x301C, 0xFF5E}, // 〜 WAVE DASH, in very many programme titles: ～
    {0x2212, 0xFF0D}, // − MINUS SIGN: －
    {0x2016, 0x2225}, // ‖ DOUBLE VERTICAL LINE: ∥
    {0x2014, 0x2015}, // — EM DASH: ―
    {0x00A2, 0xFFE0}, // ¢
    {0x00A3, 0xFFE1}, // £
    {0x00AC, 0xFFE2}, // ¬
};

// The bytes of w in the code page (at most 2), or of its look-alike: a
// character of the table, the ASCII one of a full-width form, the code
// page's own best fit. 0 when there is none, or only one that would turn
// the name into another (a '?', a separator, a character no name may hold).
int in_code_page(UINT code_page, wchar_t w, char (&out)[4])
{
    wchar_t tries[] = {w, 0, 0};
    for (const auto& pair : LOOK_ALIKES)
        tries[1] = pair[0] == w ? pair[1] : tries[1];
    tries[2] = w >= 0xFF01 && w <= 0xFF5E ? (wchar_t)(w - 0xFEE0) : 0;
    for (int i = 0; i < 4; i++) {
        BOOL defaulted = FALSE;
        wchar_t c = i < 3 ? tries[i] : w;
        DWORD flags = i < 3 ? WC_NO_BEST_FIT_CHARS : 0;
        int n = c ? SYS(WideCharToMultiByte)(code_page, flags, &c, 1, out, sizeof out, nullptr, &defaulted) : 0;
        if (n > 0 && !defaulted)
            return n == 1 && strchr("?*:\\/\"<>|", out[0]) ? 0 : n;
    }
    return 0;
}

// Writes into out (capacity out_cap) name, an argument of the command line,
// as the code page holds it, from the command line's own UTF-16: each
// character the code page lacks as its look-alike. The C runtime gave main
// such a character as its best fit or as '?'. False, with the reason, for a
// character with no look-alike; *changed tells whether one took a
// character's place. Not an argument (a numbered name): copied as it is.
bool from_command_line(const char* name, char* out, size_t out_cap, bool* changed, char* why, size_t why_cap)
{
    *changed = false;
    int pos = -1;
    for (int i = 0; i < kept_argc; i++)
        if (kept_argv[i] == name)
            pos = i;
    UINT code_page = SYS(GetACP)();
    if (pos < 0 || code_page == CP_UTF8) // UTF-8 holds every character
        return (size_t)snprintf(out, out_cap, "%s", name) < out_cap;
    int wide_argc = 0, new_mode = 0;
    wchar_t **wide_argv = nullptr, **wide_env = nullptr;
    // Split otherwise: a look-alike of a quotation mark or a blank got in.
    bool lost = SYS(__wgetmainargs)(&wide_argc, &wide_argv, &wide_env, 0, &new_mode) < 0 || !wide_argv ||
                wide_argc != kept_argc;
    const wchar_t* given = wide_argv && !lost ? wide_argv[pos] : L"";
    size_t len = 0;
    for (const wchar_t* w = given; *w && !lost; w++) {
        char bytes[4] = {(char)*w};
        int n = *w < 0x80 ? 1 : in_code_page(code_page, *w, bytes);
        lost = n == 0 || len + (size_t)n >= out_cap;
        memcpy(out + len, bytes, lost ? 0 : (size_t)n);
        len += lost ? 0 : (size_t)n;
    }
    out[lost ? 0 : len] = '\0';
    *changed = !lost && strcmp(out, name) != 0;
    if (lost)
        (void)snprintf(why, why_cap, "it holds characters code page %u cannot show", code_page);
    return !lost;
}

// The code page's bytes for the superscript digits 1, 2 and 3, those it has
// as one byte, for the names of the devices COM¹ and LPT¹ and the like.
void superscript_digits(char (&out)[4])
{
    const wchar_t digits[] = {0xB9, 0xB2, 0xB3};
    size_t n = 0;
    for (wchar_t digit : digits) {
        char byte[2];
        BOOL defaulted = FALSE;
        if (SYS(WideCharToMultiByte)(CP_ACP, WC_NO_BEST_FIT_CHARS, &digit, 1, byte, sizeof byte, nullptr,
                                     &defaulted) == 1 &&
            !defaulted)
            out[n++] = byte[0];
    }
    out[n] = '\0';
}

bool store_name(const char* name, char* out, size_t out_cap, char* why, size_t why_cap)
{
    bool changed = false;
    why[0] = '\0';
    if (!from_command_line(name, out, out_cap, &changed, why, why_cap))
        return false;
    const wchar_t* w = wide(out);
    DWORD full_len = w ? SYS(GetFullPathNameW)(w, 0, nullptr, nullptr) : 0;
    char superscripts[4];
    superscript_digits(superscripts);
    const char* problem = text_windows_name_problem(out, full_len > 0 ? full_len - 1 : 0, is_lead_byte, superscripts);
    if (problem)
        (void)snprintf(why, why_cap, "%s", problem);
    else if (changed)
        (void)snprintf(why, why_cap, "the name given is stored as %s: look-alikes take the place of characters "
                       "code page %u lacks", out, SYS(GetACP)());
    return problem == nullptr;
}

// --- Files

bool file_exists(const char* path, char* why, size_t why_cap)
{
    // The entry itself: a link counts, however it dangles. The wide function
    // on the wide name: the ANSI one stays kept to MAX_PATH even after "\\?\".
    why[0] = '\0';
    const wchar_t* w = wide(path);
    if (w && SYS(GetFileAttributesW)(w) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD err = GetLastError();
    if (!w || (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND))
        error_text(err, why, why_cap);
    return false;
}

int open_regular(const char* path, char* why, size_t why_cap)
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

long read_file(int fd, char* buf, size_t cap, char* why, size_t why_cap)
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

void close_file(int fd)
{
    (void)SYS(_close)(fd); // opened for reading: nothing is lost when closing fails
}

// The attributes of path, or INVALID_FILE_ATTRIBUTES with the reason in why.
DWORD attributes(const char* path, char* why, size_t why_cap)
{
    const wchar_t* w = wide(path);
    DWORD attrs = w ? SYS(GetFileAttributesW)(w) : INVALID_FILE_ATTRIBUTES;
    if (attrs == INVALID_FILE_ATTRIBUTES)
        error_text(GetLastError(), why, why_cap);
    return attrs;
}

bool can_run(const char* path, char* why, size_t why_cap)
{
    DWORD attrs = attributes(path, why, why_cap);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        (void)snprintf(why, why_cap, "it is a directory");
        return false;
    }
    // A program file begins "MZ" and names its PE header, which begins "PE\0\0".
    const wchar_t* w = wide(path);
    HANDLE file = w ? SYS(CreateFileW)(w, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                       nullptr)
                    : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        error_text(GetLastError(), why, why_cap);
        return false;
    }
    unsigned char head[4096];
    DWORD n = 0;
    BOOL read = SYS(ReadFile)(file, head, sizeof head, &n, nullptr);
    DWORD err = read ? 0 : GetLastError();
    (void)SYS(CloseHandle)(file);
    if (!read) { // a file that cannot be read is not thereby no program
        error_text(err, why, why_cap);
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

bool can_create_in(const char* dir, char* why, size_t why_cap)
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
    const wchar_t* w = wide(probe);
    HANDLE file = w ? SYS(CreateFileW)(w, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                    : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
        error_text(GetLastError(), why, why_cap);
        return false;
    }
    if (file != INVALID_HANDLE_VALUE)
        (void)SYS(CloseHandle)(file);
    return true;
}

// --- Clock and pauses

bool zone_problem(char* why, size_t why_cap)
{
    // The C runtime takes TZ, where it is set, over the system's time zone:
    // three letters, then the hours west of UTC, then the letters of a
    // daylight-saving name, to which it applies the United States' dates.
    const char* tz = SYS(getenv)("TZ");
    if (!tz || !*tz)
        return false;
    const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    size_t name = strspn(tz, letters);
    const char* offset = tz + name + (tz[name] == '+' || tz[name] == '-');
    size_t digits = strspn(offset, "0123456789:");
    int hours = (int)strtol(offset, nullptr, 10) * (tz[name] == '-' ? -1 : 1);
    size_t summer = strspn(offset + digits, letters);
    bool utc = name == 3 && (strncmp(tz, "UTC", 3) == 0 || strncmp(tz, "GMT", 3) == 0);
    if (name != 3 || offset[digits + summer] != '\0' || (!digits && (summer || !utc)))
        (void)snprintf(why, why_cap, "TZ=%.*s is no time zone the C runtime can read: set the system's time zone, "
                       "and no TZ", (int)(why_cap / 2), tz);
    else if (summer && (hours < 4 || hours > 10)) // the zones of the United States and Canada
        (void)snprintf(why, why_cap, "TZ=%.*s: the C runtime changes its clock on the United States' "
                       "daylight-saving dates: set the system's time zone, and no TZ", (int)(why_cap / 2), tz);
    else
        return false;
    return true;
}

void sleep_ms(unsigned ms)
{
    SYS(Sleep)(ms);
}

// --- Processes

// Looks at every other process of the image name in one snapshot and, with
// end, ends each by force and waits for it to go. Counts in *found those it
// ended (or, without end, could end); false when the snapshot cannot be
// read whole, with the reason in why. *not_endable counts the others: those
// it may not end, and those still there when the wait for their end ran out.
bool look(const char* image, bool end, int* found, int* not_endable, char* why, size_t why_cap)
{
    *found = *not_endable = 0;
    HANDLE snapshot = SYS(CreateToolhelp32Snapshot)(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        error_text(GetLastError(), why, why_cap);
        return false;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD self = SYS(GetCurrentProcessId)();
    BOOL more = SYS(Process32First)(snapshot, &entry);
    for (; more; more = SYS(Process32Next)(snapshot, &entry)) {
        if (!text_starts_any_case(entry.szExeFile, image, true) || entry.th32ProcessID == self)
            continue;
        // As taskkill /F ends it: with the right to terminate it.
        HANDLE process = SYS(OpenProcess)(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        DWORD err = process ? 0 : GetLastError();
        // TerminateProcess may succeed on a process it does not end (a
        // 64-bit one, for a 32-bit run on some systems): only its end tells.
        // A wait that fails leaves that to the table, read again.
        bool stays = false;
        if (process && end && SYS(TerminateProcess)(process, 1))
            stays = SYS(WaitForSingleObject)(process, END_WAIT_MS) == WAIT_TIMEOUT;
        else if (process && end)
            err = GetLastError();
        if (process)
            (void)SYS(CloseHandle)(process);
        if (stays) {
            if (!*not_endable)
                (void)snprintf(why, why_cap, "it still runs after it was ended");
            (*not_endable)++;
        } else if (err == 0)
            (*found)++;
        else if (err != ERROR_INVALID_PARAMETER) { // that one has ended meanwhile
            if (!*not_endable)
                error_text(err, why, why_cap);
            (*not_endable)++;
        }
    }
    DWORD err = GetLastError();
    (void)SYS(CloseHandle)(snapshot);
    if (err != ERROR_NO_MORE_FILES) {
        error_text(err, why, why_cap);
        return false;
    }
    return true;
}

ImageState image_state(const char* image, char* why, size_t why_cap)
{
    int found = 0, not_endable = 0;
    if (!look(image, false, &found, &not_endable, why, why_cap))
        return IMAGE_UNKNOWN;
    return not_endable ? IMAGE_NOT_ENDABLE : found ? IMAGE_RUNNING : IMAGE_NOT_RUNNING;
}

StopResult end_image(const char* image, int* ended, char* why, size_t why_cap)
{
    // Ended through the snapshot, never by a taskkill found by search order
    // (cmd.exe looks in the current directory first), and then read again:
    // what still runs of the name, a 64-bit program a 32-bit run could not
    // end among them, was not ended.
    int not_endable = 0, left = 0;
    if (!look(image, true, ended, &not_endable, why, why_cap))
        return STOP_CANNOT_TELL;
    if (not_endable)
        return STOP_NOT_ALL_ENDED;
    if (!look(image, false, &left, &not_endable, why, why_cap))
        return STOP_CANNOT_TELL;
    if (left || not_endable) {
        // As many as still run were not ended, as far as anyone can tell.
        *ended = *ended > left ? *ended - left : 0;
        (void)snprintf(why, why_cap, "it still runs after it was ended");
        return STOP_NOT_ALL_ENDED;
    }
    return *ended ? STOP_ENDED : STOP_NONE;
}

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
        if (is_lead_byte((unsigned char)*p) && p[1])
            p++;
        else if (strchr("^&|<>();,=!", *p))
            return true;
    }
    return false;
}

// Starts the program named by the first word of text, with text as its
// command line, and waits for it.
int start_directly(const char* text)
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
            say_error(platform_os, "cannot start '%.*s': not found\n", (int)QUOTE_MAX, text);
            return STATUS_NOT_FOUND;
        }
        char why[REASON_CAP];
        error_text(err, why, sizeof why);
        say_error(platform_os, "cannot start '%.*s': %s\n", (int)QUOTE_MAX, text, why);
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
        error_text(GetLastError(), why, sizeof why);
        say_error(platform_os, "cannot tell how '%.*s' ended: %s\n", (int)QUOTE_MAX, text, why);
        code = (DWORD)-1;
    }
    (void)SYS(CloseHandle)(pi.hProcess);
    return (int)code;
}

int run_command(const char* text)
{
    // The output name's reservation, if one is held, goes to the program
    // (through cmd.exe too): its name stays taken while the program runs,
    // however this run ends. No other handle is made inheritable.
    if (held_reservation)
        (void)SYS(SetHandleInformation)(held_reservation, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    (void)SYS(SetConsoleCtrlHandler)(keep_waiting, TRUE);
    int status = 0;
    if (read_otherwise_by_cmd(text)) {
        status = start_directly(text);
    } else {
        // COMSPEC, else CMD.EXE, with "/c"; -1 when no interpreter can be started.
        status = SYS(system)(text); // NOLINT(cert-env33-c): running the command interpreter is the point
        if (status == -1)
            say_error(platform_os, "cannot start the command interpreter: %s\n", strerror(errno));
    }
    (void)SYS(SetConsoleCtrlHandler)(keep_waiting, FALSE);
    return status;
}

// --- Output name reservations

const wchar_t* const NAMESPACES[] = {L"Global\\", L"Local\\"};
// A kernel object's name holds at most MAX_PATH - 1 characters, the
// namespace included; a key of so many bytes in UTF-8 has no more.
const size_t MUTEX_KEY_MAX = MAX_PATH - 1 - (sizeof "Global\\" - 1);
static_assert(MUTEX_KEY_MAX < RESERVATION_KEY_CAP, "every key fits its text");

void release_name()
{
    if (held_reservation)
        (void)SYS(CloseHandle)(held_reservation);
    held_reservation = nullptr;
}

Reservation reserve_name(const char* name, char* why, size_t why_cap)
{
    char key[RESERVATION_KEY_CAP];
    wchar_t wide_key[RESERVATION_KEY_CAP];
    if (!reservation_key(name, key, sizeof key, why, why_cap))
        return RESERVATION_UNAVAILABLE;
    if (SYS(MultiByteToWideChar)(CP_UTF8, 0, key, -1, wide_key, (int)RESERVATION_KEY_CAP) == 0) {
        error_text(GetLastError(), why, why_cap);
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
            release_name();
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
    error_text(err, why, why_cap);
    return RESERVATION_UNAVAILABLE;
}

} // namespace

bool reservation_key(const char* name, char* key, size_t key_cap, char* why, size_t why_cap)
{
    static wchar_t full[WIDE_PATH_CAP], upper[WIDE_PATH_CAP];
    static char file[WIDE_PATH_CAP * 3];
    static char identity[WIDE_PATH_CAP * 3 + 32];
    why[0] = '\0';
    wchar_t* base = nullptr;
    const wchar_t* w = wide(name);
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
            error_text(err, why, why_cap); // no directory: no key, and no reason
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    BOOL known = SYS(GetFileInformationByHandle)(dir, &info);
    DWORD err = GetLastError();
    (void)SYS(CloseHandle)(dir);
    int len = known ? SYS(LCMapStringW)(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, base, -1, upper, (int)WIDE_PATH_CAP) : 0;
    if (len <= 0 || SYS(WideCharToMultiByte)(CP_UTF8, 0, upper, -1, file, (int)sizeof file, nullptr, nullptr) == 0) {
        error_text(known ? GetLastError() : err, why, why_cap);
        return false;
    }
    (void)snprintf(identity, sizeof identity, "%08lx.%08lx%08lx/%s", (unsigned long)info.dwVolumeSerialNumber,
                   (unsigned long)info.nFileIndexHigh, (unsigned long)info.nFileIndexLow, file); // fits: see its capacity
    return text_object_name(identity, MUTEX_KEY_MAX, key, key_cap);
}

void platform_console_init()
{
    // A console (or another character device): every line shows at once.
    // A file or pipe: 512-byte blocks, with a buffer of our own so that the
    // size is exactly that.
    // A stream the C runtime cannot set up so keeps its default buffering.
    if (SYS(_isatty)(1)) {
        (void)SYS(setvbuf)(stdout, nullptr, _IONBF, 0);
        console_out = SYS(GetStdHandle)(STD_OUTPUT_HANDLE);
        if (console_out == INVALID_HANDLE_VALUE)
            console_out = nullptr;
    } else
        (void)SYS(setvbuf)(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    (void)SYS(setvbuf)(stderr, nullptr, _IONBF, 0);
}

void platform_keep_arguments(int argc, char** argv)
{
    kept_argc = argc;
    kept_argv = argv;
}

const Platform platform_os = {
    program_dir,   // program_dir
    "\\/",         // path_separators
    is_lead_byte,  // is_lead_byte
    store_name,    // store_name
    open_regular,  // open_regular
    read_file,     // read
    close_file,    // close
    file_exists,   // file_exists
    can_run,       // can_run
    can_create_in, // can_create_in
    clock_now,     // clock_now
    clock_local_time, // local_time
    zone_problem,  // zone_problem
    sleep_ms,      // sleep_ms
    image_state,   // image_state
    end_image,     // end_image
    run_command,   // run_command
    reserve_name,  // reserve_name
    release_name,  // release_name
    write_out,     // write_out
    write_out,     // write_progress
    write_err,     // write_err
};
