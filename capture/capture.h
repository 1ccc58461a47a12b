// The capture program: its instance suffix and image name, what its command
// line may hold, ending a running instance, the output name it is handed,
// and the command line that starts it.
#pragma once

#include "base/limits.h"
#include "platform/platform.h"

#include <stddef.h>
#include <stdint.h>

/// Writes the instance suffix into out (capacity >= 2): empty for 0, else the
/// byte '0' + instance taken modulo 256, empty when that byte is 0.
///   0 -> ""   2 -> "2"   10 -> ":"   -1 -> "/"   208 -> ""
void capture_suffix(int32_t instance, char* out, size_t out_cap);

/// Writes the image name "zarnivek<suffix>.exe" into out (capacity
/// IMAGE_NAME_CAP, which every suffix fits).
void capture_image_name(const char* suffix, char* out);

/// The parts of the capture command line that come from outside the program.
enum CommandPart {
    PART_PROGRAM_DIR, // heads it, in quotation marks where it holds a blank
    PART_SUFFIX,      // in the image name, unquoted; also names what a stop ends
    PART_OUTPUT_NAME, // in quotation marks
    PART_TIME,        // a time argument without ':', unquoted
};

/// What in text keeps it from standing as that part of the command line
/// ("it holds a double quotation mark", "it holds a control character",
/// ...), or nullptr
/// when it may. An output name may also not end with a backslash (a whole
/// character: in code page 932 the second byte of '表' is 5C), which would
/// escape its closing quotation mark.
const char* capture_part_problem(CommandPart part, const char* text, bool (*is_lead_byte)(unsigned char));

/// Ends every running process of the image name, writes the stop message
/// when it ended one, and a line when one may still run ("Cannot end
/// <image>: <why>", or "Cannot tell whether <image> runs: <why>" when the
/// process table could not be read in a few tries, a pause apart).
/// Returns true when it ended something.
bool capture_end_instance(const char* image, const Platform& os);

/// The candidates passed over while choosing an output name, and why: the
/// first NAMES_KEPT of them by their number (0 is the file argument, n its
/// name numbered n), and how many there were in all.
const size_t NAMES_KEPT = 64;
struct NamesPassed {
    enum Why : unsigned char { EXISTS, RESERVED };
    Why why[NAMES_KEPT];
    int count;
};

/// Writes candidate number n for file_arg into out (capacity out_cap): the
/// file argument itself for 0, else "<stem>(n).<ext>", split at its last
/// '.'; where that '.' stands before the last path separator (seps, with
/// double-byte characters stepped over) the name has no extension and is
/// numbered "<name>(n)". False when it does not fit, or file_arg holds no '.'.
///   rec.ts 1 -> rec(1).ts   D:\tv\a.b.ts 1 -> D:\tv\a.b(1).ts   rec. 1 -> rec(1).
///   rec.d/news 1 -> rec.d/news(1)   D:\rec2.0\a 1 -> D:\rec2.0\a(1) (Windows)
bool capture_candidate(const char* file_arg, int n, const Platform& os, char* out, size_t out_cap);

/// Writes the candidates passed over, as many as fit out (capacity
/// out_cap), into out: "rec.ts exists; rec(1).ts is held by another run
/// now". Returns how many it wrote.
int capture_describe_passed(const char* file_arg, const NamesPassed& passed, const Platform& os, char* out,
                            size_t out_cap);

/// Writes the directory a file of the output name lands in into dir
/// (capacity OUTPUT_NAME_CAP): up to and including its last separator; ""
/// for the current directory; on Windows "C:" for a name after a drive
/// letter alone ("C:rec.ts" lands in that drive's current directory), and
/// then returns true.
bool capture_output_dir(const char* name, const Platform& os, char* dir);

/// What became of choosing an output name.
enum NamePick {
    NAME_PICKED,       // out holds it, and this run holds its reservation
    NAME_NONE_FREE,    // every candidate that fits is taken
    NAME_CANNOT_STORE, // the candidate in out is no name this system can store (why)
    NAME_CANNOT_TELL,  // whether the candidate in out is free cannot be told (why)
};

/// Chooses the output name for file_arg into out (capacity out_cap): the
/// file argument itself, unless it is taken and fixed is false; then the
/// first free candidate. A candidate is free when the file status query
/// does not find it and this run takes its reservation: it then holds the
/// reservation until it ends, and no other run can choose the name
/// meanwhile. A directory that does not exist has no reservation; there a
/// name the query does not find is free. A query or reservation that fails
/// is tried again, after a pause, a few times, before NAME_CANNOT_TELL:
/// a name is never taken for free when that is not known. Each candidate
/// must be one the system can store. With fixed, nothing is checked or
/// reserved. Names passed over go into *passed.
NamePick capture_pick_output_name(const char* file_arg, bool fixed, const Platform& os, char* out, size_t out_cap,
                                  NamesPassed* passed, char* why, size_t why_cap);

/// Forms the capture command line "<dir><image> \"<name>\" @<HEX> <window>"
/// in cmd (capacity COMMAND_TEXT_CAP, which every line fits); where the
/// program directory holds a blank, the program's path stands in quotation
/// marks too:
///   "C:\Program Files (x86)\tv\zarnivek.exe" "rec.ts" @400 2100
void capture_command_line(const char* program_dir, const char* image, const char* output_name, int32_t source_id,
                          const char* window, char* cmd);
