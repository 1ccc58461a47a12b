// The platform layer on Windows, in the order of platform.h: the console
// (bytes unchanged on a console), the program path from the module, the time
// zone, Sleep, files through the C runtime, the process table (a Toolhelp
// snapshot), the command interpreter (cmd.exe, or CreateProcess for a text
// cmd.exe would misread), and output name reservations (named mutexes).
#include "base/text.h"
#include "platform/platform.h"

#include <windows.h>

#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

namespace {

// What the command interpreter gives for a program it cannot find.
const int STATUS_NOT_FOUND = 9009;
// The longest command line CreateProcessA takes, terminating zero included.
const size_t CREATE_PROCESS_LINE_CAP = 32768;
static_assert(COMMAND_TEXT_CAP <= CREATE_PROCESS_LINE_CAP, "every command text can be started directly");
// Console text goes out in writes of at most this many bytes.
const size_t CONSOLE_CHUNK_CAP = 4096;

// The system's text for an error number of GetLastError.
void error_text(DWORD err, char* why, size_t why_cap)
{
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, why,
                             (DWORD)why_cap, nullptr);
    while (n > 0 && (why[n - 1] == '\r' || why[n - 1] == '\n' || why[n - 1] == ' '))
        n--; // the text ends with a line break
    if (n == 0)
        n = (DWORD)snprintf(why, why_cap, "error %lu", (unsigned long)err);
    why[n < why_cap ? n : why_cap - 1] = '\0';
}

// The output name's reservation this run holds (a mutex), or null.
HANDLE held_reservation = nullptr;

char stdout_buffer[STDOUT_BLOCK];
// Standard output when it is a character device (the console), else null.
HANDLE console_out = nullptr;

// Starts the program named by the first word of text, with text as its
// command line, and waits for it.
int start_directly(const char* text)
{
    static char line[CREATE_PROCESS_LINE_CAP]; // CreateProcessA may write into its command line
    int n = snprintf(line, sizeof line, "%s", text);
    if (n < 0 || (size_t)n >= sizeof line)
        return -1;
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
            (void)fprintf(stderr, "cannot start '%.*s': not found\n", (int)QUOTE_MAX, text);
            return STATUS_NOT_FOUND;
        }
        char why[REASON_CAP];
        error_text(err, why, sizeof why);
        (void)fprintf(stderr, "cannot start '%.*s': %s\n", (int)QUOTE_MAX, text, why);
        return -1;
    }
    CloseHandle(pi.hThread);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code))
        code = (DWORD)-1;
    CloseHandle(pi.hProcess);
    return (int)code;
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
// %NAME% even inside double quotation marks, so a file name
// holding '%' would reach the capture program changed. Where the program
// path heads the text without quotation marks, cmd.exe takes ^ away, ends
// the command at & | < > (redirecting or starting another), and ( ) ; , =
// ! make it fail or read another name ("a^b\zarnivek.exe" starts
// "ab\zarnivek.exe"). The second byte of a double-byte character is none of them.
bool read_otherwise_by_cmd(const char* text)
{
    // A quoted program path (its directory holds a blank): cmd.exe /c would
    // strip the quotation marks of a line that begins and ends with one.
    if (text[0] == '"' || strchr(text, '%'))
        return true;
    for (const char* p = text; *p && *p != ' ' && *p != '\t'; p++) {
        if (platform_is_lead_byte((unsigned char)*p) && p[1])
            p++;
        else if (strchr("^&|<>();,=!", *p))
            return true;
    }
    return false;
}

} // namespace

void platform_console_init()
{
    // A console (or another character device): every line shows at once.
    // A file or pipe: 512-byte blocks, with a buffer of our own so that the
    // size is exactly that.
    // A stream the C runtime cannot set up so keeps its default buffering.
    if (_isatty(_fileno(stdout))) {
        (void)setvbuf(stdout, nullptr, _IONBF, 0);
        console_out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (console_out == INVALID_HANDLE_VALUE)
            console_out = nullptr;
    } else
        (void)setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    (void)setvbuf(stderr, nullptr, _IONBF, 0);
}

bool platform_program_dir(char* out, size_t out_cap)
{
    char path[PROGRAM_PATH_QUERY];
    if (out_cap < sizeof path)
        return false;
    // A path that fills the buffer was cut: whether a zero follows differs
    // between Windows versions, so the length alone decides.
    DWORD n = GetModuleFileNameA(nullptr, path, (DWORD)sizeof path);
    if (n == 0 || n >= sizeof path)
        return false;
    path[n] = '\0';
    // In a double-byte code page (932 and others) the second byte of a
    // character may be 0x5C: each character is stepped over as a whole.
    const char* last = text_last_of(path, "\\", platform_is_lead_byte);
    if (!last)
        return false;
    size_t len = (size_t)(last - path) + 1;
    memcpy(out, path, len);
    out[len] = '\0';
    return true;
}

bool platform_zone_problem(char* why, size_t why_cap)
{
    // The C runtime takes TZ, where it is set, over the system's time zone:
    // three letters, then the hours west of UTC ("JST-9"). Whatever it cannot
    // read so makes it go by a wrong clock without a word.
    const char* tz = getenv("TZ");
    if (!tz || !*tz)
        return false;
    size_t letters = strspn(tz, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const char* hours = tz + letters + (tz[letters] == '+' || tz[letters] == '-');
    if (letters == 3 && *hours >= '0' && *hours <= '9')
        return false;
    (void)snprintf(why, why_cap, "TZ=%.*s is no time zone the C runtime can read: set the system's time zone, "
                   "and no TZ", (int)(why_cap / 2), tz);
    return true;
}

void platform_sleep_ms(unsigned ms)
{
    Sleep(ms);
}

int platform_run_command(const char* text)
{
    // The output name's reservation, if one is held, goes to the program
    // (through cmd.exe too): its name stays taken while the program runs,
    // however this run ends. No other handle is made inheritable.
    if (held_reservation)
        (void)SetHandleInformation(held_reservation, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    (void)SetConsoleCtrlHandler(keep_waiting, TRUE);
    int status = 0;
    if (read_otherwise_by_cmd(text)) {
        status = start_directly(text);
    } else {
        // COMSPEC, else CMD.EXE, with "/c"; -1 when no interpreter can be started.
        status = system(text); // NOLINT(cert-env33-c): running the command interpreter is the point
        if (status == -1)
            (void)fprintf(stderr, "cannot start the command interpreter: %s\n", strerror(errno));
    }
    (void)SetConsoleCtrlHandler(keep_waiting, FALSE);
    return status;
}

bool platform_file_exists(const char* path)
{
    // The entry itself: a link counts, however it dangles.
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int platform_open_regular(const char* path)
{
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return -1;
    struct _stat st = {};
    if (_fstat(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        _close(fd);
        return -1;
    }
    return fd;
}

long platform_read(int fd, char* buf, size_t cap)
{
    // _read takes an unsigned count; a settings chunk is far below its limit.
    return _read(fd, buf, (unsigned)cap);
}

void platform_close(int fd)
{
    _close(fd);
}

// Whether path names an entry, and whether that is a directory; false with
// the reason in why when the system cannot find it.
static bool attributes(const char* path, bool* directory, char* why, size_t why_cap)
{
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        error_text(GetLastError(), why, why_cap);
        return false;
    }
    *directory = (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool platform_can_run(const char* path, char* why, size_t why_cap)
{
    bool directory = false;
    if (!attributes(path, &directory, why, why_cap))
        return false;
    if (directory)
        (void)snprintf(why, why_cap, "it is a directory");
    return !directory;
}

bool platform_can_create_in(const char* dir, char* why, size_t why_cap)
{
    // Whether this user may write there, only trying would tell.
    bool directory = false;
    if (!attributes(*dir ? dir : ".", &directory, why, why_cap))
        return false;
    if (!directory)
        (void)snprintf(why, why_cap, "it is no directory");
    return directory;
}

void platform_write_out(const char* text, size_t len)
{
    if (!console_out) {
        (void)fwrite(text, 1, len, stdout); // a console write has no one to report to
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
            (void)WriteFile(console_out, line, (DWORD)n, &done, nullptr);
            n = 0;
        }
        if (text[i] == '\n')
            line[n++] = '\r';
        line[n++] = text[i];
    }
    DWORD done = 0;
    (void)WriteFile(console_out, line, (DWORD)n, &done, nullptr);
}

void platform_write_err(const char* text, size_t len)
{
    (void)fwrite(text, 1, len, stderr);
}

const char PLATFORM_SEPARATORS[] = "\\/";

bool platform_is_lead_byte(unsigned char c)
{
    return IsDBCSLeadByte(c) != FALSE;
}

// The C runtime's argument vector in UTF-16, split from the command line
// by the same rules as the one main receives (msvcrt.dll).
extern "C" int __cdecl __wgetmainargs( // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): its name
    int* argc, wchar_t*** argv, wchar_t*** env, int glob, int* new_mode);

namespace {

int kept_argc = 0;
char** kept_argv = nullptr;

// True when name is an argument of the command line that lost characters
// on its way into the code page: converted back from the command line's
// own UTF-16 without a look-alike (best-fit) character, it must give the
// same bytes. Not an argument (a name a test made): false.
bool lost_characters(const char* name)
{
    int pos = -1;
    for (int i = 0; i < kept_argc; i++)
        if (kept_argv[i] == name)
            pos = i;
    if (pos < 0)
        return false;
    int wide_argc = 0, new_mode = 0;
    wchar_t** wide_argv = nullptr;
    wchar_t** wide_env = nullptr;
    // Split otherwise: a look-alike of a quotation mark or a blank got in.
    if (__wgetmainargs(&wide_argc, &wide_argv, &wide_env, 0, &new_mode) < 0 || wide_argc != kept_argc)
        return true;
    static char back[2 * OUTPUT_NAME_CAP];
    UINT code_page = GetACP();
    BOOL defaulted = FALSE;
    bool utf8 = code_page == CP_UTF8; // holds every character; takes no flags
    int n = WideCharToMultiByte(code_page, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide_argv[pos], -1, back,
                                (int)sizeof back, nullptr, utf8 ? nullptr : &defaulted);
    return n == 0 || defaulted || strcmp(back, name) != 0;
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
        if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &digit, 1, byte, sizeof byte, nullptr, &defaulted) == 1 &&
            !defaulted)
            out[n++] = byte[0];
    }
    out[n] = '\0';
}

} // namespace

void platform_keep_arguments(int argc, char** argv)
{
    kept_argc = argc;
    kept_argv = argv;
}

bool platform_name_problem(const char* name, char* why, size_t why_cap)
{
    if (lost_characters(name)) {
        (void)snprintf(why, why_cap, "it holds characters code page %u cannot show", GetACP());
        return true;
    }
    static wchar_t wide[2 * OUTPUT_NAME_CAP];
    DWORD full_len = 0;
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, (int)(sizeof wide / sizeof wide[0])) > 0)
        full_len = GetFullPathNameW(wide, 0, nullptr, nullptr); // the length with its terminating zero
    char superscripts[4];
    superscript_digits(superscripts);
    const char* problem =
        text_windows_name_problem(name, full_len > 0 ? full_len - 1 : 0, platform_is_lead_byte, superscripts);
    if (problem)
        (void)snprintf(why, why_cap, "%s", problem);
    return problem != nullptr;
}

ImageState platform_image_state(const char* image, char* why, size_t why_cap)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        error_text(GetLastError(), why, why_cap);
        return IMAGE_UNKNOWN;
    }
    PROCESSENTRY32 entry;
    memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    ImageState state = IMAGE_NOT_RUNNING;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (!text_starts_any_case(entry.szExeFile, image, true) || entry.th32ProcessID == GetCurrentProcessId())
            continue;
        // As taskkill /F ends it: with the right to terminate it.
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (process) {
            CloseHandle(process);
            if (state == IMAGE_NOT_RUNNING)
                state = IMAGE_RUNNING;
        } else if (GetLastError() != ERROR_INVALID_PARAMETER) { // that one has ended meanwhile
            error_text(GetLastError(), why, why_cap);
            state = IMAGE_NOT_ENDABLE;
            break;
        }
    }
    CloseHandle(snapshot);
    return state;
}

namespace {

// A full path in UTF-16: GetFullPathNameW, unlike the ANSI function, is not
// kept to MAX_PATH characters.
const size_t FULL_PATH_CAP = 2048;
const wchar_t* const NAMESPACES[] = {L"Global\\", L"Local\\"};
// A kernel object's name holds at most MAX_PATH - 1 characters, the
// namespace included; a key of so many bytes in UTF-8 has no more.
const size_t MUTEX_KEY_MAX = MAX_PATH - 1 - (sizeof "Global\\" - 1);
static_assert(MUTEX_KEY_MAX < RESERVATION_KEY_CAP, "every key fits its text");

} // namespace

bool platform_reservation_key(const char* name, char* key, size_t key_cap)
{
    static wchar_t wide[FULL_PATH_CAP], full[FULL_PATH_CAP], upper[FULL_PATH_CAP];
    static char file[FULL_PATH_CAP * 3];
    static char identity[FULL_PATH_CAP * 3 + 32];
    wchar_t* base = nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, (int)FULL_PATH_CAP) == 0)
        return false;
    DWORD n = GetFullPathNameW(wide, (DWORD)FULL_PATH_CAP, full, &base);
    if (n == 0 || n >= FULL_PATH_CAP || !base || base == full)
        return false;
    // A name that is a link (a reparse point) is taken as it exists, however
    // it dangles: it needs no key.
    DWORD attrs = GetFileAttributesW(full);
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    // The directory by its identity, which every route to it shares (a
    // junction, a link, a substituted drive, a short name, one share under
    // two server names), and the file's own name in the system's upper case,
    // as letter case does not matter to the file system.
    wchar_t first = *base;
    *base = L'\0'; // the directory, its last separator kept: "C:\" is a root
    HANDLE dir = CreateFileW(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    *base = first;
    if (dir == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL known = GetFileInformationByHandle(dir, &info);
    CloseHandle(dir);
    int len = LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, base, -1, upper, (int)FULL_PATH_CAP);
    if (!known || len <= 0 || WideCharToMultiByte(CP_UTF8, 0, upper, -1, file, (int)sizeof file, nullptr, nullptr) == 0)
        return false;
    (void)snprintf(identity, sizeof identity, "%08lx.%08lx%08lx/%s", (unsigned long)info.dwVolumeSerialNumber,
                   (unsigned long)info.nFileIndexHigh, (unsigned long)info.nFileIndexLow, file); // fits: see its capacity
    return text_object_name(identity, MUTEX_KEY_MAX, key, key_cap);
}

Reservation platform_reserve_name(const char* name)
{
    char key[RESERVATION_KEY_CAP];
    wchar_t wide_key[RESERVATION_KEY_CAP];
    if (!platform_reservation_key(name, key, sizeof key) ||
        MultiByteToWideChar(CP_UTF8, 0, key, -1, wide_key, (int)RESERVATION_KEY_CAP) == 0)
        return RESERVATION_UNAVAILABLE;
    for (const wchar_t* space : NAMESPACES) {
        wchar_t object[MAX_PATH];
        (void)_snwprintf(object, MAX_PATH, L"%ls%ls", space, wide_key); // fits: see MUTEX_KEY_MAX
        object[MAX_PATH - 1] = L'\0';
        // Not inheritable, until the capture program starts (platform_run_command).
        HANDLE mutex = CreateMutexW(nullptr, FALSE, object);
        DWORD err = GetLastError();
        if (mutex && err == ERROR_ALREADY_EXISTS) {
            CloseHandle(mutex);
            return RESERVATION_TAKEN;
        }
        if (mutex) {
            platform_release_name();
            held_reservation = mutex;
            return RESERVED;
        }
        // Held by a run of another user, whose object this one may not open.
        if (err == ERROR_ACCESS_DENIED)
            return RESERVATION_TAKEN;
    }
    return RESERVATION_UNAVAILABLE;
}

void platform_release_name()
{
    if (held_reservation)
        CloseHandle(held_reservation);
    held_reservation = nullptr;
}
