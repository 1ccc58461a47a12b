// Prints how command texts are split into argv, one line per text, each word
// as "<length>:<bytes>". Built for Windows, the words are the C runtime's own:
// each text becomes the command line of a child process (this program again)
// that prints the argv its C runtime parsed. Built for Linux, the words are
// those of the launcher's splitter.
//   argv_probe split CORPUS   one command text per line of CORPUS
//   argv_probe clock          (Windows) the local time as HH:MM:SS
#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <time.h>
#else
#include "platform/cmdline.h"
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

#ifdef _WIN32
const char CHILD_VARIABLE[] = "QB_ARGV_PROBE_CHILD";
#endif

void print_words(int n, char** words)
{
    for (int i = 0; i < n; i++)
        printf("%u:%s", (unsigned)strlen(words[i]), words[i]);
    printf("\n");
    fflush(stdout);
}

#ifdef _WIN32
bool split_one(const char* self, const char* text)
{
    static char line[32768];
    snprintf(line, sizeof line, "%s", text);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    // Wine's 64-bit loader now and then fails a start with an internal error
    // (1359) that a second attempt does not meet: what is tested here is the
    // splitting, so a start is tried three times.
    for (int attempt = 1; !CreateProcessA(self, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
         attempt++) {
        if (attempt == 3) {
            fprintf(stderr, "argv_probe: cannot start a child for '%s' (error %lu)\n", text,
                    (unsigned long)GetLastError());
            return false;
        }
        Sleep(200);
        snprintf(line, sizeof line, "%s", text); // CreateProcessA may have written into it
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}
#else
bool split_one(const char*, const char* text)
{
    static char store[65536];
    static char* words[4096];
    int n = cmdline_split(text, store, sizeof store, words, 4096);
    if (n < 0) {
        fprintf(stderr, "argv_probe: '%s' does not fit\n", text);
        return false;
    }
    print_words(n, words);
    return true;
}
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    if (getenv(CHILD_VARIABLE)) {
        print_words(argc, argv);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "clock") == 0) {
        time_t t = time(nullptr);
        struct tm* tm = localtime(&t);
        printf("%02d:%02d:%02d\n", tm->tm_hour, tm->tm_min, tm->tm_sec);
        return 0;
    }
    char self[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, self, sizeof self);
    if (len == 0 || len >= sizeof self)
        return 2;
    SetEnvironmentVariableA(CHILD_VARIABLE, "1");
#else
    const char* self = argv[0];
#endif
    if (argc != 3 || strcmp(argv[1], "split") != 0) {
        fprintf(stderr, "usage: argv_probe split CORPUS | argv_probe clock\n");
        return 2;
    }
    FILE* corpus = fopen(argv[2], "rb");
    if (!corpus) {
        perror(argv[2]);
        return 2;
    }
    static char text[32768];
    while (fgets(text, sizeof text, corpus)) {
        text[strcspn(text, "\n")] = '\0';
        if (!split_one(self, text))
            return 1;
    }
    fclose(corpus);
    return 0;
}
