// The settings file next to the program: instance offset, margins and
// source id mappings.
#pragma once

#include "launcher/args.h"

#include <stdio.h>

/// Seconds the recording window opens early (lead) and closes late (trail).
struct Margins {
    int lead;
    int trail;
};

/// Reads pieces of the open stream and applies them to inv and margins.
/// Each piece is the text up to and including a line feed, at most 14
/// characters; carriage returns are dropped and byte 26 ends the file.
///   I<n>        instance = instance - n; below 1 gives 0
///   M<l>[,<t>]  margins, each clamped into 0..30 (t kept when missing)
///   @<from>,<to> hex; while source id > 0: on from == source id, source
///               id = to and reading ends
///   other       ignored; so are lines whose numbers cannot be read
void settings_apply(FILE* file, Invocation* inv, Margins* margins);

/// Opens path, applies it as settings_apply does, and closes it.
/// Returns false when the file cannot be opened for reading or is not a
/// regular file (a directory, a FIFO, a device).
bool settings_read(const char* path, Invocation* inv, Margins* margins);
