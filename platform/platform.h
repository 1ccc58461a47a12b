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
/// to a pipe nobody reads any more fails; it never ends the program. On
/// Linux a standard stream that is closed is first opened on /dev/null, so
/// that no file the capture program opens takes its place.
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
/// On Windows a text that cmd.exe would read otherwise than its words say is
/// started directly, from the same text: one holding '%' (expanded even inside
/// double quotation marks), or whose program path holds one of ^ & | < > ( )
/// ; , = ! (a double-byte character's second byte excepted).
int platform_run_command(const char* text);

/// The characters that separate the directories of a path: "/" on Linux,
/// "\/" on Windows.
extern const char PLATFORM_SEPARATORS[];

/// True when c is the first byte of a double-byte character of the system's
/// ANSI code page (never on Linux).
bool platform_is_lead_byte(unsigned char c);

/// Whether a process of an image name runs now, as far as the platform can
/// tell without ending anything: 1 yes, 0 no, -1 cannot tell. On Linux
/// names compare byte for byte, on Windows without regard to case.
int platform_image_running(const char* image);

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

/// What became of an attempt to reserve an output name.
enum Reservation {
    RESERVED,                // this run holds it now
    RESERVATION_TAKEN,       // another run holds it
    RESERVATION_UNAVAILABLE, // the platform refused the object: nothing is known
};

/// Reserves the output name for this run until the process ends, however it
/// ends, or platform_release_name() lets it go; a run holds one at a time.
/// The reservation is an object only one process can hold, named by the
/// name's key: on Linux an abstract Unix socket, on Windows a named mutex
/// (Global\ where it can be created, else Local\). Taking it is atomic.
Reservation platform_reserve_name(const char* name);

/// Lets the reservation this run holds go (none held: nothing happens).
void platform_release_name();

/// Forms the key of an output name's reservation into key: its full path
/// (a relative name resolved against the current directory, "." and ".."
/// taken out; on Windows upper-cased, as letter case does not matter there),
/// or a hash of it where the path does not fit the object's name. False when
/// the full path cannot be had.
const size_t RESERVATION_KEY_CAP = 260;
bool platform_reservation_key(const char* name, char* key, size_t key_cap);

/// Writes len bytes to standard output / standard error, unchanged.
void platform_write_out(const char* text, size_t len);
void platform_write_err(const char* text, size_t len);
