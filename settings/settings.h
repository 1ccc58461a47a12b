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

/// What the reader did with one piece of the file: its text, what it did,
/// whether its line ended there, and the values before and after it.
struct SettingsPiece {
    enum Effect {
        REMARK,          // its first character is none of I, M, @
        NO_NUMBER,       // a number it needs could not be read
        INSTANCE,        // an instance offset was applied
        MARGINS,         // the margins were set
        MAPPED,          // the source id was mapped; nothing after it acts
        NOT_MAPPED,      // a mapping from another source id
        MAPPING_SKIPPED, // a mapping, not considered: the source id is not above 0
        NOT_READ,        // it stands after the mapping that matched
    };
    const char* text;        // its bytes, the line feed left out
    size_t len;              // their count
    bool ends_line;          // the line ends with it (its line feed, or the file's end)
    Effect effect;
    int32_t instance_before, instance_after;
    int32_t source_before, source_after;
    int32_t mapping_from;    // the source id a mapping maps from, where one was read
    Margins margins;         // the margins after it
};

/// Told of every piece the reader reads, in the order of the file. With a
/// trace the reader reads on after a matching mapping, telling each piece
/// left as NOT_READ; without one it stops there.
struct SettingsTrace {
    void (*piece)(void* context, const SettingsPiece& p);
    void* context;
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
void settings_apply(const char* bytes, size_t len, int32_t* source_id, int32_t* instance, Margins* margins,
                    const SettingsTrace* trace = nullptr);

/// Reads the file at path and applies it as settings_apply does.
/// Returns false when it cannot be opened for reading or is not a regular
/// file (a directory, a FIFO, a device): nothing is applied then.
bool settings_read(const char* path, int32_t* source_id, int32_t* instance, Margins* margins,
                   const SettingsTrace* trace = nullptr);
