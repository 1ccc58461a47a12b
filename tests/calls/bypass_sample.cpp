// A platform file that goes past the fault table twice, on either platform:
// a row's function (getenv) called directly, and a system call that has no
// row (remove). The check of every_call_a_row.py must find both, and nothing
// in the calls it makes through the table or to pure functions.
#include "platform/calls.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int bypass_sample(const char* path, char* buf, size_t cap)
{
    const char* home = getenv("HOME");
    size_t n = SYS(fwrite)(path, 1, strlen(path), stdout);
    (void)remove(path);
    (void)snprintf(buf, cap, "%s", home ? home : "");
    return (int)(n + strlen(buf));
}
