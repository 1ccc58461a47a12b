// The settings file next to the program: instance offset, margins and
// source id mappings.
#pragma once

#include "base/limits.h"
#include "platform/platform.h"

#include <stddef.h>
#include <stdint.h>

/// Seconds the recording window opens early (lead) and closes late (trail).
struct Margins {
    int lead;
    int trail;
};

/// A piece of a settings line that acts, or looks as if it should (one
/// that begins with I, M or @), and what it did.
struct SettingsAct {
    enum Effect {
        NO_NUMBER,       // a number it needs could not be read
        INSTANCE,        // an instance offset was applied
        MARGINS,         // the margins were set
        MAPPED,          // the source id was mapped; nothing after it acts
        NOT_MAPPED,      // a mapping from another source id
        MAPPING_SKIPPED, // a mapping, not considered: the source id is not above 0
    };
    int line, piece;               // where it stands: line and piece of that line, from 1
    char text[SETTINGS_PIECE_CAP]; // its bytes, the line feed left out
    size_t len;                    // their count
    Effect effect;
    int32_t instance_before, instance_after;
    int32_t source_before, source_after;
    int32_t mapping_from;  // the source id a mapping maps from, where one was read
    Margins margins;       // the margins after it
    size_t line_chars;     // the characters of its whole line
    int line_pieces;       // and the pieces it was read in
};

/// What the reader did with a settings file, line by line: the pieces that
/// act or should (the first SETTINGS_ACTS_KEPT of them), the lines of the
/// file, and where a mapping matched. Lines with no such piece are remarks.
const size_t SETTINGS_ACTS_KEPT = 32;
struct SettingsRecord {
    enum Encoding { BYTES, UTF16_LE, UTF16_BE } encoding;
    SettingsAct act[SETTINGS_ACTS_KEPT];
    int acts;          // how many acted or should have, kept or not
    int kept;          // of them, those in act[]
    int lines;         // the lines read (a last one without a line feed too)
    int mapped_line;   // the line of the mapping that matched, the last read; 0: none did
};

/// What became of reading the settings file.
enum SettingsRead {
    SETTINGS_APPLIED,     // read whole, and applied
    SETTINGS_NOT_OPENED,  // missing, unreadable, or no regular file: nothing applied
    SETTINGS_READ_FAILED, // failed part-way (why): not to be taken as its end
};

/// Reads the settings file at path through os and applies it to the source
/// id, the instance number and the margins, recording what each line did.
/// The file is read in pieces: the text up to and including a line feed,
/// at most 14 bytes; carriage returns are dropped and byte 26 (Ctrl-Z) ends
/// the file. A UTF-8 byte order mark is skipped; a UTF-16 one (FF FE, FE FF)
/// makes the rest read as UTF-16 of that order, each character as the bytes
/// the system's code page stores it as (Platform::encode_char), which are
/// then cut into pieces as a byte file is.
///   I<n>        instance = instance - n; below 1 gives 0
///   M<l>[,<t>]  margins, each clamped into 0..30 (t kept when missing)
///   @<from>,<to> hex; while source id > 0: on from == source id, source
///               id = to, and reading ends: nothing after it is read
///   other       ignored; so are lines whose numbers cannot be read
/// A read that fails, or a UTF-16 file that ends one byte into a character,
/// before reading ends: SETTINGS_READ_FAILED, with the reason.
SettingsRead settings_read(const char* path, const Platform& os, int32_t* source_id, int32_t* instance,
                           Margins* margins, SettingsRecord* record, char* why, size_t why_cap);
