// The settings file next to the program: instance offset, margins and
// source id mappings.
#pragma once

#include <stddef.h>
#include <stdint.h>

/// Seconds the recording window opens early (lead) and closes late (trail).
struct Margins {
    int lead;
    int trail;
};

/// Applies the bytes of a settings file to the source id, the instance
/// number and the margins. The bytes are read in pieces: the text up to and
/// including a line feed, at most 14 characters; carriage returns are
/// dropped and byte 26 (Ctrl-Z) ends the file.
///   I<n>        instance = instance - n; below 1 gives 0
///   M<l>[,<t>]  margins, each clamped into 0..30 (t kept when missing)
///   @<from>,<to> hex; while source id > 0: on from == source id, source
///               id = to and reading ends
///   other       ignored; so are lines whose numbers cannot be read
void settings_apply(const char* bytes, size_t len, int32_t* source_id, int32_t* instance, Margins* margins);

/// Reads the file at path and applies it as settings_apply does.
/// Returns false when it cannot be opened for reading or is not a regular
/// file (a directory, a FIFO, a device): nothing is applied then.
bool settings_read(const char* path, int32_t* source_id, int32_t* instance, Margins* margins);
