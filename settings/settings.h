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

/// What the reader tells a trace, in the order of the file.
struct SettingsEvent {
    enum Kind {
        PIECE,     // one piece was read and applied
        LONG_LINE, // the line was read in several pieces (after its pieces)
        UNREAD,    // a mapping matched: what follows was not read
    } kind;
    enum Effect {
        REMARK,          // its first character is none of I, M, @
        NO_NUMBER,       // a number it needs could not be read
        INSTANCE,        // instance number before -> after
        MARGINS,         // margins are now `margins`
        MAPPED,          // source id before -> after; reading ends
        NOT_MAPPED,      // a mapping from `after`, which is not the source id `before`
        MAPPING_SKIPPED, // a mapping, not considered: the source id `before` is not above 0
    } effect;
    int line;          // 1 = the first line
    int piece;         // PIECE: 1 = the line's first piece; LONG_LINE: the count of pieces
    const char* text;  // PIECE: its bytes, the line feed left out
    size_t len;        // PIECE: their count; LONG_LINE: the line's characters
    int32_t before, after;
    Margins margins;   // PIECE: the margins after it
    bool rest_of_line; // UNREAD: the rest of `line` was not read...
    int last_line;     // ...nor the lines after it up to this one (none when it is `line`)
};

/// Told of every piece the reader reads and what it did; with a trace, the
/// reader also counts the lines it leaves unread after a matching mapping.
struct SettingsTrace {
    void (*event)(void* context, const SettingsEvent& e);
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
