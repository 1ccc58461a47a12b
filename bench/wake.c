/* The least a wait that wakes once a second can do: read the local time,
   write a progress line, sleep a second, until it is ended. The benchmarks
   take its CPU time as the floor of the launcher's wait on the same clock. */
#include <stdio.h>
#include <time.h>

int main(void)
{
    for (;;) {
        time_t now = time(NULL);
        if (!localtime(&now))
            return 1;
        fputs("Please wait...    \r", stdout);
        fflush(stdout);
        struct timespec second = {1, 0};
        nanosleep(&second, NULL);
    }
}
