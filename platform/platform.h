// The thin layer over the operating system: every operation of a run that
// the system provides. Each platform implements all of it (Linux:
// platform_posix.cpp and the posix_*.cpp files beside it, one concern each;
// Windows: platform_win32.cpp); the build picks the files. The sections
// below follow the order of a run.
#pragma once

#include "base/limits.h"

#include <stddef.h>
#include <stdint.h>

// --- Console

/// Standard output that is no console is written in blocks of this size.
const size_t STDOUT_BLOCK = 512;

/// Sets up the console streams: standard output unbuffered on a console or
/// terminal, otherwise fully buffered in 512-byte blocks; standard error
/// unbuffered. Nothing flushes standard output before a command runs. A write
/// to a pipe nobody reads any more fails; it never ends the program. On
/// Linux a standard stream that is closed is first opened on /dev/null, so
/// that no file the capture program opens takes its place.
void platform_console_init();

/// Writes len bytes to standard output / standard error, unchanged.
void platform_write_out(const char* text, size_t len);
void platform_write_err(const char* text, size_t len);

// --- The program's directory and the rules of its paths

/// Writes the program directory (the running program's full path cut right
/// after its last separator) into out, NUL-terminated; out_cap must be at
/// least PROGRAM_PATH_QUERY. Returns false when the path cannot be had, is
/// longer than PROGRAM_PATH_QUERY - 1 characters (254), or holds no separator.
bool platform_program_dir(char* out, size_t out_cap);

/// The characters that separate the directories of a path: "/" on Linux,
/// "\/" on Windows.
extern const char PLATFORM_SEPARATORS[];

/// True when c is the first byte of a double-byte character of the system's
/// ANSI code page (never on Linux).
bool platform_is_lead_byte(unsigned char c);

/// Keeps the program's argument vector, as main received it, for
/// platform_name_problem.
void platform_keep_arguments(int argc, char** argv);

/// Writes why this system can make no file of the name into why (capacity
/// why_cap) and returns true; false when it can. Linux takes every name.
/// Windows: an argument of the command line that lost characters when the
/// C runtime turned the command line into the code page's argument vector
/// ("it holds characters code page 1252 cannot show": a '?' for each, or a
/// look-alike such as ':' for '：'), then the rules of
/// text_windows_name_problem (base/text.h).
bool platform_name_problem(const char* name, char* why, size_t why_cap);

// --- Clock and pauses

/// A reading of the local clock.
const size_t ZONE_NAME_CAP = 64;
struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int day = 0;        // of the month: tells today from tomorrow
    int utc_offset = 0; // seconds east of UTC
    char zone[ZONE_NAME_CAP] = {}; // the zone's name as the system gives it ("CET")
};

/// The system clock: seconds since 1970-01-01 00:00 UTC.
int64_t platform_clock_now();

/// The local time at t (platform_clock_now's seconds), in the system's time zone.
void platform_local_time(int64_t t, LocalTime* out);

/// Writes why the time zone the program goes by is not the one asked for
/// into why (capacity why_cap) and returns true: a TZ the C library cannot
/// read, which it takes as UTC without a word. False when it is fine.
bool platform_zone_problem(char* why, size_t why_cap);

/// Pauses for ms milliseconds (sleeping, never spinning).
void platform_sleep_ms(unsigned ms);

// --- Files

/// True when path names an entry: a file, a directory, a device, or a
/// symbolic link, one that dangles too.
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

/// Whether path names a program this user can start: false, with the reason
/// in why (capacity why_cap), when it is missing, no file or not executable.
bool platform_can_run(const char* path, char* why, size_t why_cap);

/// Whether this user may create a file in the directory dir ("" is the
/// current directory): false, with the reason in why, when it is missing,
/// no directory, deleted, or closed to this user.
bool platform_can_create_in(const char* dir, char* why, size_t why_cap);

// --- Processes

/// What the process table shows of an image name.
enum ImageState {
    IMAGE_NOT_RUNNING, // no process of that name runs
    IMAGE_RUNNING,     // one runs, and this user may end it
    IMAGE_NOT_ENDABLE, // one runs that this user may not end (another user's)
    IMAGE_UNKNOWN,     // the table cannot be read: whether one runs cannot be told
};

/// Looks for processes of an image name, ending nothing. On Linux names
/// compare byte for byte, on Windows without regard to case. For
/// IMAGE_NOT_ENDABLE and IMAGE_UNKNOWN the reason goes into why (capacity
/// why_cap).
ImageState platform_image_state(const char* image, char* why, size_t why_cap);

/// Runs one command text through the command interpreter and waits for it.
/// Returns its exit status (128 + n for a program a signal n ended), or -1
/// when no process can be started at all; a program that cannot be started
/// says why in one line on standard error. The output name's reservation,
/// if one is held, is handed on to the program. While it runs, the run
/// ignores what a console sends the program too (Linux: SIGINT, SIGQUIT;
/// Windows: Ctrl-C, Ctrl-Break) and passes SIGTERM and SIGHUP on to it.
/// On Windows a text that cmd.exe would read otherwise than its words say is
/// started directly, from the same text: one holding '%' (expanded even inside
/// double quotation marks), one whose program path stands in quotation marks,
/// or whose program path holds one of ^ & | < > ( ) ; , = ! (a double-byte
/// character's second byte excepted).
int platform_run_command(const char* text);

// --- Output name reservations

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
/// (Global\ where it can be created, else Local\). Taking it is atomic. The
/// capture program inherits it (platform_run_command), so the name stays
/// taken while that program, or what it leaves running, holds it.
/// RESERVATION_UNAVAILABLE for a name with no key.
Reservation platform_reserve_name(const char* name);

/// Lets the reservation this run holds go (none held: nothing happens).
void platform_release_name();

/// Forms the key of an output name's reservation into key: the identity of
/// its directory (Linux: device and inode numbers; Windows: volume serial
/// number and file index), which every route to the directory shares, and
/// the file's own name (upper-cased on Windows, where letter case does not
/// matter); a hash of that where it does not fit the object's name. On
/// Linux a name that is a symbolic link (a dangling one too) is keyed by what
/// it points to. False, and no key, when the directory does not exist (no
/// file can be created there), or on Windows for a name that is a link
/// (which the status query finds, however it dangles).
const size_t RESERVATION_KEY_CAP = 260;
bool platform_reservation_key(const char* name, char* key, size_t key_cap);
