#include "temp_dir.h"

#include <stdio.h>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

std::string temp_dir_make()
{
#ifdef _WIN32
    char base[MAX_PATH];
    DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n >= sizeof base)
        return "";
    for (unsigned i = 0; i < 1000; i++) {
        char dir[MAX_PATH + 64];
        snprintf(dir, sizeof dir, "%sqbtest%lu_%lu_%u", base, (unsigned long)GetCurrentProcessId(),
                 (unsigned long)GetTickCount(), i);
        if (_mkdir(dir) == 0)
            return std::string(dir) + "\\";
    }
    return "";
#else
    char dir[] = "/tmp/qbtestXXXXXX";
    return mkdtemp(dir) ? std::string(dir) + "/" : "";
#endif
}

void temp_remove_file(const std::string& path)
{
    remove(path.c_str());
}

void temp_remove_dir(const std::string& dir)
{
#ifdef _WIN32
    _rmdir(dir.c_str());
#else
    rmdir(dir.c_str());
#endif
}
