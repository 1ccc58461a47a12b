// The platform layer on Windows: the program path from the module, Sleep, the
// C runtime's local clock, file status query and command interpreter.
#include "platform/platform.h"

#include <windows.h>

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

namespace {

// What the command interpreter gives for a program it cannot find.
const int STATUS_NOT_FOUND = 9009;

char stdout_buffer[512];
// Standard output when it is a character device (the console), else null.
HANDLE console_out = nullptr;

// Starts the program named by the first word of text, with text as its
// command line, and waits for it.
int start_directly(const char* text)
{
    static char line[32768]; // CreateProcessA may write into its command line
    int n = snprintf(line, sizeof line, "%s", text);
    if (n < 0 || (size_t)n >= sizeof line)
        return -1;
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        DWORD err = GetLastError();
        if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND)
            return -1;
        fprintf(stderr, "cannot start '%.300s': not found\n", text);
        return STATUS_NOT_FOUND;
    }
    CloseHandle(pi.hThread);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code))
        code = (DWORD)-1;
    CloseHandle(pi.hProcess);
    return (int)code;
}

} // namespace

void platform_console_init()
{
    // A console (or another character device): every line shows at once.
    // A file or pipe: 512-byte blocks, with a buffer of our own so that the
    // size is exactly that.
    if (_isatty(_fileno(stdout))) {
        setvbuf(stdout, nullptr, _IONBF, 0);
        console_out = (HANDLE)_get_osfhandle(_fileno(stdout));
        if (console_out == INVALID_HANDLE_VALUE)
            console_out = nullptr;
    } else
        setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

bool platform_program_dir(char* out, size_t out_cap)
{
    char path[PLATFORM_PATH_QUERY];
    if (out_cap < sizeof path)
        return false;
    // A path that fills the buffer was cut: whether a zero follows differs
    // between Windows versions, so the length alone decides.
    DWORD n = GetModuleFileNameA(nullptr, path, (DWORD)sizeof path);
    if (n == 0 || n >= sizeof path)
        return false;
    path[n] = '\0';
    // In a double-byte code page (932 and others) the second byte of a
    // character may be 0x5C: step over each character as a whole.
    const char* last = nullptr;
    for (const char* p = path; *p; p++) {
        if (*p == '\\')
            last = p;
        else if (IsDBCSLeadByte((BYTE)*p) && p[1])
            p++;
    }
    if (!last)
        return false;
    size_t len = (size_t)(last - path) + 1;
    memcpy(out, path, len);
    out[len] = '\0';
    return true;
}

void platform_sleep_ms(unsigned ms)
{
    Sleep(ms);
}

int platform_run_command(const char* text)
{
    // The command interpreter expands %NAME% even inside double quotation
    // marks, so a file name holding '%' would reach the program changed. Such
    // a command line is started directly, from the same text.
    if (strchr(text, '%'))
        return start_directly(text);
    // COMSPEC, else CMD.EXE, with "/c"; -1 when no interpreter can be started.
    return system(text);
}

bool platform_file_exists(const char* path)
{
    struct _stat st;
    return _stat(path, &st) == 0;
}

void platform_write_out(const char* text, size_t len)
{
    if (!console_out) {
        fwrite(text, 1, len, stdout);
        return;
    }
    // A C runtime may pass console text through its own locale, byte by
    // byte, which turns the stop message's Shift_JIS into other characters.
    // The console gets the bytes as they are, in one write so that no
    // double-byte character is split, with a carriage return before each
    // line feed as in text mode. Messages are far shorter than the buffer.
    static char line[4096];
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        if (n + 2 > sizeof line) {
            DWORD done;
            WriteFile(console_out, line, (DWORD)n, &done, nullptr);
            n = 0;
        }
        if (text[i] == '\n')
            line[n++] = '\r';
        line[n++] = text[i];
    }
    DWORD done;
    WriteFile(console_out, line, (DWORD)n, &done, nullptr);
}

void platform_write_err(const char* text, size_t len)
{
    fwrite(text, 1, len, stderr);
}
