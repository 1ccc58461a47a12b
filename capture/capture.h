// The capture program: its instance suffix and image name, what its command
// line may hold, ending a running instance, the output name it is handed,
// and the command line that starts it.
#pragma once

#include "base/limits.h"
#include "base/text.h"
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

/// Whether text may stand as that part of the command line: no part holds
/// a control character or '"'; the unquoted ones no blank, nor one of
/// & | < > ^ %, which cmd.exe acts on; an instance suffix no wildcard or
/// separator, which would name other programs to end.
bool capture_part_allowed(CommandPart part, const char* text);

/// What keeps an output name from standing in the command line ("it holds
/// a double quotation mark", "it holds a control character", "it ends with
/// a backslash"), or nullptr when it may. A name may not end with a
/// backslash (a whole character: in code page 932 the second byte of '表'
/// is 5C), which would escape its closing quotation mark.
const char* capture_name_problem(const char* name, LeadByteTest is_lead_byte);

/// Ends every running process of the image name. With settle_ms, after it
/// ended one it pauses that long and looks again: one found then was
/// started anew (a supervisor that restarts it) and is ended again, up to
/// three pauses. Then it writes one line: the stop message when it ended
/// one and it stays ended; "Cannot end <image>: <why>" when one may still
/// run ("it starts again each time it is ended" for one that came back
/// after every pause); "Cannot tell whether <image> runs: <why>" when the
/// process table could not be read in a few tries, a pause apart.
/// Returns true when it ended something.
bool capture_end_instance(const char* image, const Platform& os, unsigned settle_ms);

/// The candidates passed over while choosing an output name, and why, as a
/// text ("rec.ts exists; rec(1).ts is held by another run now"): as many as
/// fit it, in their order; and how many there were in all.
const size_t PASSED_TEXT_CAP = 400;
struct NamesPassed {
    char text[PASSED_TEXT_CAP];
    int listed; // the names the text lists
    int count;  // the names passed over
};

/// What became of choosing an output name.
enum NamePick {
    NAME_PICKED,       // out holds it, and this run holds its reservation
    NAME_NONE_FREE,    // every candidate that fits is taken
    NAME_CANNOT_STORE, // the candidate in out is no name this system can store (why)
    NAME_CANNOT_TELL,  // whether the candidate in out is free cannot be told (why)
};

/// Chooses the output name for file_arg (the name the system stores the
/// file argument under) into out (capacity out_cap): the file argument
/// itself, unless it is taken and fixed is false; then the first free of
/// its candidates "<stem>(n).<ext>", split at its last '.' ("<name>(n)"
/// where that '.' stands before the last path separator, double-byte
/// characters stepped over):
///   rec.ts -> rec(1).ts   D:\tv\a.b.ts -> D:\tv\a.b(1).ts   rec. -> rec(1).
///   rec.d/news -> rec.d/news(1)   D:\rec2.0\a -> D:\rec2.0\a(1) (Windows)
/// A candidate is free when the file status query does not find it and
/// this run takes its reservation: it then holds the reservation until it
/// ends, and no other run can choose the name meanwhile. A query or
/// reservation that fails is tried again, after a pause, a few times,
/// before NAME_CANNOT_TELL: a name is never taken for free when that is not
/// known. Each numbered candidate must be one the system can store. With
/// fixed, nothing is checked or reserved. Names passed over go into *passed.
NamePick capture_pick_output_name(const char* file_arg, bool fixed, const Platform& os, char* out, size_t out_cap,
                                  NamesPassed* passed, char* why, size_t why_cap);

/// Forms the capture command line "<dir><image> \"<name>\" @<HEX> <window>"
/// in cmd (capacity COMMAND_TEXT_CAP, which every line fits); where the
/// program directory holds a blank, the program's path stands in quotation
/// marks too:
///   "C:\Program Files (x86)\tv\zarnivek.exe" "rec.ts" @400 2100
void capture_command_line(const char* program_dir, const char* image, const char* output_name, int32_t source_id,
                          const char* window, char* cmd);
