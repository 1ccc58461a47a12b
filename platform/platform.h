// The thin layer over the operating system. One implementation file per
// platform defines every function here; the build picks the file.
#pragma once

#include "base/limits.h"

#include <stddef.h>

/// Hour, minute and second of the local clock.
struct LocalTime {
    int hour;
    int minute;
    int second;
};

/// Standard output that is no console is written in blocks of this size.
const size_t STDOUT_BLOCK = 512;

/// Sets up the console streams: standard output unbuffered on a console or
/// terminal, otherwise fully buffered in 512-byte blocks; standard error
/// unbuffered. Nothing flushes standard output before a command runs. A write
/// to a pipe nobody reads any more fails; it never ends the program.
void platform_console_init();

/// Writes the program directory (the running program's full path cut right
/// after its last separator) into out, NUL-terminated; out_cap must be at
/// least PROGRAM_PATH_QUERY. Returns false when the path cannot be had, is
/// longer than PROGRAM_PATH_QUERY - 1 characters (254), or holds no separator.
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

/// Opens path for reading when it names a regular file, without ever
/// waiting (a FIFO is refused, not opened for a writer to come). Returns a
/// descriptor, or -1 when the file is missing, unreadable, or no regular
/// file (a directory, a FIFO, a device).
int platform_open_regular(const char* path);

/// Reads up to cap bytes of an open file into buf: the count, 0 at its end,
/// -1 when it cannot be read.
long platform_read(int fd, char* buf, size_t cap);

/// Closes an open file.
void platform_close(int fd);

/// Writes len bytes to standard output / standard error, unchanged.
void platform_write_out(const char* text, size_t len);
void platform_write_err(const char* text, size_t len);
