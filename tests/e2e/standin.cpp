// Stand-in capture program for the end-to-end tests. It prints one line
// ("standin ran"), with STANDIN_ERR set one more on standard error ("standin
// error"), then appends the argv it received to "calls.log" next to itself
// (each argument as "<length>:<bytes>", a line feed after each call): a call
// in the log is its sign of life, written after its output. It exits with the
// status in STANDIN_STATUS (default 0). STANDIN_SLEEP=<s> makes it run that
// long first; STANDIN_TOUCH=1 makes it create the output file it is given,
// and the directory it names first where that does not exist.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

int main(int argc, char** argv)
{
    printf("standin ran\n");
    fflush(stdout);
    if (getenv("STANDIN_ERR"))
        fputs("standin error\n", stderr);
    char log[1024];
    const char* slash = strrchr(argv[0], '/');
    const char* backslash = strrchr(argv[0], '\\');
    const char* sep = slash > backslash ? slash : backslash;
    int dir_len = sep ? (int)(sep - argv[0] + 1) : 0;
    snprintf(log, sizeof log, "%.*scalls.log", dir_len, argv[0]);
    // One entry, appended in one write: stand-ins that run at once never
    // mix their entries (a C runtime's append mode on Windows seeks, then
    // writes, and two of them may write at one place).
    static char entry[65536];
    size_t len = 0;
    for (int i = 0; i < argc && len < sizeof entry; i++)
        len += (size_t)snprintf(entry + len, sizeof entry - len, "%u:%s", (unsigned)strlen(argv[i]), argv[i]);
    if (len > sizeof entry - 2)
        len = sizeof entry - 2; // cut: the test that reads it fails
    entry[len++] = '\n';
#ifdef _WIN32
    HANDLE f = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD done = 0;
        WriteFile(f, entry, (DWORD)len, &done, nullptr);
        CloseHandle(f);
    }
#else
    int fd = open(log, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        if (write(fd, entry, len) != (ssize_t)len)
            fputs("standin: the log entry was not written whole\n", stderr);
        close(fd);
    }
#endif
    if (const char* s = getenv("STANDIN_SLEEP")) {
#ifdef _WIN32
        Sleep((DWORD)atoi(s) * 1000);
#else
        sleep((unsigned)atoi(s));
#endif
    }
    if (argc > 1 && getenv("STANDIN_TOUCH")) {
        const char* name_sep = strrchr(argv[1], '/');
        if (const char* b = strrchr(argv[1], '\\'))
            name_sep = name_sep > b ? name_sep : b;
        if (name_sep) {
            char dir[1024];
            snprintf(dir, sizeof dir, "%.*s", (int)(name_sep - argv[1]), argv[1]);
#ifdef _WIN32
            CreateDirectoryA(dir, nullptr);
#else
            mkdir(dir, 0755);
#endif
        }
        if (FILE* f = fopen(argv[1], "wb"))
            fclose(f);
    }
    const char* status = getenv("STANDIN_STATUS");
    return status ? atoi(status) : 0;
}
