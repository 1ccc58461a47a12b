// The capture program: its instance suffix, ending a running instance, the
// output name it is handed, and the command line that starts it.
#pragma once

#include "platform/hooks.h"

#include <stddef.h>
#include <stdint.h>

/// Writes the instance suffix into out (capacity >= 2): empty for 0, else the
/// byte '0' + instance taken modulo 256, empty when that byte is 0.
///   0 -> ""   2 -> "2"   10 -> ":"   -1 -> "/"   208 -> ""
void capture_suffix(int32_t instance, char* out, size_t out_cap);

/// Writes the image name "zarnivek<suffix>.exe" into out (capacity
/// IMAGE_NAME_CAP, which every suffix fits).
void capture_image_name(const char* suffix, char* out);

/// True when the suffix can stand in an image name on a command line: it is
/// empty or one printable character that neither the command interpreter nor
/// taskkill treat specially (blank, quote, & | < > ^ %, wildcards * ?, / \).
bool capture_suffix_is_safe(const char* suffix);

/// The status of the stop command when no process of the name runs.
const int CAPTURE_NONE_RUNS = 128;

/// Forms "taskkill /F /IM zarnivek<suffix>.exe 1>nul 2>nul" in cmd (capacity
/// cmd_cap), runs it and, when it gives 0, writes the stop message. A status
/// other than 0 and 128 (none found) means a process may still run: the
/// process table tells why, in one line ("Cannot end <image>: <why>", or
/// "Cannot tell whether <image> runs: <why>").
/// Returns true when it ended something (status 0).
bool capture_end_instance(const char* suffix, char* cmd, size_t cmd_cap, const Hooks& h);

/// Why a candidate output name was passed over.
enum NameTaken {
    NAME_EXISTS,   // the file status query found it
    NAME_RESERVED, // another run holds its reservation
};

/// Told of each candidate output name that was passed over, and why.
struct NameTrace {
    void (*taken)(void* context, const char* candidate, NameTaken why);
    void* context;
};

/// Chooses the output name for file_arg into out (capacity out_cap): the
/// file argument itself, unless it is taken and fixed is false; then the
/// first of "<stem>(1).<ext>", "<stem>(2).<ext>", ... that is free. The name
/// is split at its last '.'; when that '.' stands before the last path
/// separator (h.path_separators, double-byte characters stepped over), the
/// name has no extension and is numbered "<name>(1)", "<name>(2)", ...
///   rec.ts (exists) -> rec(1).ts      rec.ts, rec(1).ts exist -> rec(2).ts
///   D:\tv\a.b.ts    -> D:\tv\a.b(1).ts    rec. -> rec(1).
///   rec.d/news      -> rec.d/news(1)    D:\rec2.0\a -> D:\rec2.0\a(1) (Windows)
/// A name is free when the file status query does not find it and this run
/// takes its reservation (h.reserve_name): then it holds the reservation
/// until it ends, and no other run can choose the name meanwhile. Where the
/// platform makes no reservation at all, a name the query does not find is
/// free. With fixed, nothing is checked or reserved. trace, when given, is
/// told of each name passed over.
/// Returns false when no name can be had: the file argument holds no '.', a
/// candidate does not fit out_cap, or the counter would pass its largest
/// value. out is NUL-terminated in every case (out_cap > 0).
bool capture_pick_output_name(const char* file_arg, bool fixed, const Hooks& h, char* out, size_t out_cap,
                              const NameTrace* trace = nullptr);

/// Forms the capture command line "<dir>zarnivek<suffix>.exe \"<name>\" @<HEX> <window>"
/// in cmd (capacity cmd_cap); where the program directory holds a blank, the
/// program's path stands in quotation marks too:
///   "C:\Program Files (x86)\tv\zarnivek.exe" "rec.ts" @400 2100
/// Returns false when it does not fit.
bool capture_command_line(const char* program_dir, const char* suffix, const char* output_name,
                          int32_t source_id, const char* window, char* cmd, size_t cmd_cap);
