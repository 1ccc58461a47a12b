// Entry point: sets up the console and runs one recording with the
// operating system's own operations.
#include "launcher/run.h"
#include "platform/platform.h"

int main(int argc, char** argv)
{
    platform_console_init();
    platform_keep_arguments(argc, argv);
    return launcher_run(argc, argv, platform_os);
}
