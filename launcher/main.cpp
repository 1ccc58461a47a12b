// Entry point: sets up the console and does what the arguments ask with the
// operating system's own operations.
#include "launcher/program.h"
#include "platform/platform.h"

int main(int argc, char** argv)
{
    platform_console_init();
    return launcher_run(argc, argv, platform_os);
}
