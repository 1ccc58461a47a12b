// The one seam to the operating system: every operation a run asks of it is
// one slot of the table Platform. Each platform fills the table once, in its
// own file (Linux: platform_posix.cpp, Windows: platform_win32.cpp), with
// files beside it one mechanism each (posix_*.cpp, win32_*.cpp); the build
// picks the files.
// The driver, the stages and the check reach the system only through the
// table they are handed: tests hand them a fake, the check a table built on
// the real one. Below the table each platform file sends every system call
// through a fault table of its own (platform/calls.h).
#pragma once

#include "base/limits.h"

#include <stddef.h>
#include <stdint.h>

/// A reading of the local clock.
const size_t ZONE_NAME_CAP = 64;
struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int day = 0;        // of the month: tells today from tomorrow
    int utc_offset = 0; // seconds east of UTC
    char zone[ZONE_NAME_CAP] = {}; // the zone's name as the system gives it ("CET")
    int64_t clock = 0;  // the system clock's reading it was broken down from (seconds since 1970)
};

/// What the process table shows of an image name.
enum ImageState {
    IMAGE_NOT_RUNNING, // no process of that name runs
    IMAGE_RUNNING,     // one runs, and this user may end it
    IMAGE_NOT_ENDABLE, // one runs that this user may not end (another user's)
    IMAGE_UNKNOWN,     // the table cannot be read whole: whether one runs cannot be told
};

/// What became of ending every process of an image name.
enum StopResult {
    STOP_ENDED,         // each one found was ended, and is gone
    STOP_NONE,          // none ran
    STOP_NOT_ALL_ENDED, // one found runs still (another user's, or it would not end)
    STOP_CANNOT_TELL,   // the process table cannot be read whole
};

/// What became of an attempt to reserve an output name.
enum Reservation {
    RESERVED,                // this run holds it now
    RESERVATION_TAKEN,       // another run holds it
    RESERVATION_UNAVAILABLE, // no object could be made (why): whether it is free is not known
};

/// What the file status query found of a name.
enum FileStatus {
    ENTRY_ABSENT,  // no entry of that name: the name is free
    ENTRY_PRESENT, // a file, a directory, a device, or a link (a dangling one too)
    ENTRY_UNKNOWN, // the query failed otherwise (why): whether the name is free is not known
};

/// How the system stores the file argument.
enum StoredName {
    STORED_AS_GIVEN,         // under the bytes given
    STORED_WITH_LOOK_ALIKES, // with look-alikes in the place of characters the code page lacks (why says so)
    NOT_STORABLE,            // the system can store no file of that name (why)
};

/// Where a file of an output name lands.
enum OutputDir {
    DIR_NAMED,         // in the directory named before its last separator
    DIR_CURRENT,       // in the current directory
    DIR_DRIVE_CURRENT, // Windows: in the current directory of the drive it names ("C:rec.ts")
};

/// Standard output that is no console is written in blocks of this size.
const size_t STDOUT_BLOCK = 512;

/// The operations of a run, in the order a run meets them. Every "why" is
/// a buffer of capacity why_cap for the system's reason, in one line.
struct Platform {
    // --- The program's directory, the arguments and the rules of names

    /// Writes the program directory (the running program's full path cut
    /// right after its last separator) into out, NUL-terminated; out_cap
    /// must be at least PROGRAM_PATH_QUERY. False when the path cannot be
    /// had, is longer than PROGRAM_PATH_QUERY - 1 characters, or holds no
    /// separator.
    bool (*program_dir)(char* out, size_t out_cap);
    /// The characters that separate directories: "/" on Linux, "\/" on Windows.
    const char* path_separators;
    /// True when c is the first byte of a double-byte character of the
    /// system's ANSI code page (never on Linux).
    bool (*is_lead_byte)(unsigned char c);
    /// Writes into out (capacity out_cap) the name under which this system
    /// stores a file named by argument pos of the vector main received
    /// (argv[0..argc-1]). Linux: the argument's bytes. Windows: the
    /// argument as the command line's own UTF-16 gives it, in the ANSI code
    /// page, each character the code page lacks as its look-alike (main's
    /// argv holds a best fit or '?' there). Then judged as can_store does.
    StoredName (*file_argument)(int argc, const char* const* argv, int pos, char* out, size_t out_cap, char* why,
                                size_t why_cap);
    /// Whether this system can store a file of the name: false, with the
    /// reason, when it cannot. Linux: a last part over NAME_MAX bytes.
    /// Windows: the rules of text_windows_name_problem (base/text.h).
    bool (*can_store)(const char* name, char* why, size_t why_cap);
    /// Writes into dir (capacity OUTPUT_NAME_CAP) the directory a file of
    /// the output name lands in, as the name gives it: up to and including
    /// its last separator (DIR_NAMED); "" for the current directory; on
    /// Windows "C:" for a name after a drive letter alone.
    OutputDir (*output_dir)(const char* name, char* dir);
    /// Writes into out the bytes under which this system's code page stores
    /// the character code_point (a Unicode scalar value), as a text file
    /// saved in that code page holds it: UTF-8 on Linux; the ANSI code page
    /// on Windows, with its best fit, else '?'. Returns their count, 1 to 4.
    size_t (*encode_char)(uint32_t code_point, char (&out)[4]);

    // --- Files

    /// Opens path for reading when it names a regular file, without ever
    /// waiting (a FIFO is refused). A descriptor, or -1 with the reason.
    int (*open_regular)(const char* path, char* why, size_t why_cap);
    /// Reads up to cap bytes: the count, 0 at the end, -1 with the reason
    /// when the file cannot be read (an interrupted read is tried again).
    long (*read)(int fd, char* buf, size_t cap, char* why, size_t why_cap);
    /// Closes a file opened for reading.
    void (*close)(int fd);
    /// Whether path names an entry: a file, a directory, a device, or a
    /// link, one that dangles too; ENTRY_UNKNOWN, with the reason, when the
    /// query fails otherwise than by finding no such entry.
    FileStatus (*file_status)(const char* path, char* why, size_t why_cap);
    /// Whether path names a program this user can start: false, with the
    /// reason, when it is missing, no file, not executable, or no program
    /// this system can load.
    bool (*can_run)(const char* path, char* why, size_t why_cap);
    /// Whether this user may create a file in the directory dir ("" is the
    /// current directory): false, with the reason, when it is missing, no
    /// directory, deleted, or closed to this user.
    bool (*can_create_in)(const char* dir, char* why, size_t why_cap);

    // --- Clock and pauses

    /// The system clock: seconds since 1970-01-01 00:00 UTC.
    int64_t (*clock_now)();
    /// The local time at t, in the system's time zone, with t as its clock;
    /// false when the system cannot give it (out then reads 00:00:00 with
    /// no zone, at clock 0).
    bool (*local_time)(int64_t t, LocalTime* out);
    /// Why the time zone the program goes by is not the one asked for:
    /// true with the reason.
    bool (*zone_problem)(char* why, size_t why_cap);
    /// Pauses for ms milliseconds (sleeping, never spinning).
    void (*sleep_ms)(unsigned ms);

    // --- Processes

    /// Looks for other processes of an image name, ending nothing. On Linux
    /// names compare byte for byte, on Windows without regard to case.
    ImageState (*image_state)(const char* image, char* why, size_t why_cap);
    /// Ends every other process of an image name by force, in one pass over
    /// the process table, then makes sure that each one it ended is gone
    /// (a process of the name started meanwhile is not its concern: the
    /// caller looks again). The count of processes it ended goes into
    /// *ended; the reason for STOP_NOT_ALL_ENDED and STOP_CANNOT_TELL into why.
    StopResult (*end_image)(const char* image, int* ended, char* why, size_t why_cap);
    /// Runs one command text and waits for it: its exit status (128 + n for
    /// a program signal n ended), or -1 when no process can be started at
    /// all; a program that cannot be started says why in one line through
    /// os's write_err (os: the table this was called through). The output
    /// name's reservation, if one is held, is handed on to the program.
    /// While it runs, what a console sends the program too is ignored by
    /// the run (Linux: SIGINT, SIGQUIT; Windows: Ctrl-C, Ctrl-Break), and
    /// SIGTERM and SIGHUP are passed on to it.
    int (*run_command)(const Platform& os, const char* text);

    // --- Output name reservations

    /// Reserves the output name for this run until the process ends,
    /// however it ends, or release_name lets it go; a run holds one at a
    /// time. The objects only one process can hold are named by the name's
    /// keys: its full path made absolute, and, where its directory exists,
    /// the identity of that directory and the file's own name (every route
    /// to the directory shares it); on Linux abstract Unix sockets, on
    /// Windows named mutexes. Taking them is atomic, and the capture program
    /// inherits them. RESERVATION_TAKEN when another run holds either;
    /// RESERVATION_UNAVAILABLE, with the reason, when a key cannot be
    /// formed or an object cannot be made.
    Reservation (*reserve_name)(const char* name, char* why, size_t why_cap);
    /// Lets the reservation this run holds go (none held: nothing happens).
    void (*release_name)();

    // --- Console

    /// Writes len bytes to standard output, as they are.
    void (*write_out)(const char* text, size_t len);
    /// Writes a progress line (it ends in '\r') to standard output.
    void (*write_progress)(const char* text, size_t len);
    /// Writes len bytes to standard error.
    void (*write_err)(const char* text, size_t len);
};

/// The operating system's own operations.
extern const Platform platform_os;

/// Sets up the console streams, once, before anything else: standard output
/// unbuffered on a console or terminal, otherwise fully buffered in
/// 512-byte blocks; standard error unbuffered. A write to a pipe nobody
/// reads any more fails; it never ends the program. On Linux a standard
/// stream that is closed is first opened on /dev/null, so that no file the
/// capture program opens takes its place.
void platform_console_init();

/// A writer of text: one of a table's write_out, write_progress, write_err.
typedef void (*Writer)(const char* text, size_t len);

/// Formats into a bounded buffer (MESSAGE_CAP) and writes the text with
/// write: say(os.write_out, "Cannot open '%s'\n", path). Callers bound
/// quoted arguments with a precision ("%.*s", QUOTE_MAX); text over
/// MESSAGE_CAP - 1 bytes would be cut.
void say(Writer write, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

/// Reads the local clock, with the system clock's reading it comes from:
/// false when it cannot be read.
bool read_clock(const Platform& os, LocalTime* now);
