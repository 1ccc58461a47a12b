// The thin layer over the operating system. One implementation file per
// platform defines every function here; the build picks the file.
#pragma once

#include <stddef.h>

/// Hour, minute and second of the local clock.
struct LocalTime {
    int hour;
    int minute;
    int second;
};

/// Sets up the console streams: standard output unbuffered on a console or
/// terminal, otherwise fully buffered in 512-byte blocks; standard error
/// unbuffered. Nothing flushes standard output before a command runs. A write
/// to a pipe nobody reads any more fails; it never ends the program.
void platform_console_init();

/// Size of the buffer the program path is queried into: paths of up to 254
/// characters are taken.
const size_t PLATFORM_PATH_QUERY = 255;

/// Writes the program directory (the running program's full path cut right
/// after its last separator) into out, NUL-terminated; out_cap must be at
/// least PLATFORM_PATH_QUERY. Returns false when the path cannot be had, is
/// longer than PLATFORM_PATH_QUERY - 1 characters, or holds no separator.
bool platform_program_dir(char* out, size_t out_cap);

/// Pauses for ms milliseconds (sleeping, never spinning).
void platform_sleep_ms(unsigned ms);

/// Reads the local clock.
void platform_local_now(LocalTime* now);

/// Runs one command text through the command interpreter and waits for it.
/// Returns its exit status, or -1 when no process can be started at all.
/// On Windows a text holding '%' is started directly, not through cmd.exe,
/// which would expand %NAME% sequences even inside double quotation marks.
int platform_run_command(const char* text);

/// True when the file status query succeeds for path (a file, a directory, a device).
bool platform_file_exists(const char* path);

/// Writes len bytes to standard output / standard error, unchanged.
void platform_write_out(const char* text, size_t len);
void platform_write_err(const char* text, size_t len);
