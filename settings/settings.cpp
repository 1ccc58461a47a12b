// The settings file reader. It does its own text-mode handling (carriage
// returns dropped, Ctrl-Z ends the file) so every build reads a file alike,
// and reads the file in chunks of its own through the platform table, up to
// the mapping that matches.
#include "settings/settings.h"

#include "base/numbers.h"

#include <stdio.h>
#include <string.h>

namespace {

const int CTRL_Z = 26;
const int END = -1;
const size_t CHUNK_CAP = 4096;

// The bytes of a settings file, as the system's code page holds its text.
struct Source {
    const Platform* os;
    int fd;
    char* why;
    size_t why_cap;
    bool failed;  // a read failed, or a UTF-16 file ended inside a character (why)
    bool stopped; // the file ended, or a Ctrl-Z was met
    SettingsRecord::Encoding encoding;
    // The chunk read last, and where in it the next byte stands.
    char chunk[CHUNK_CAP];
    size_t next, end;
    // A UTF-16 unit read ahead, and held back (-1: none).
    long ahead;
    // Bytes given out before the next read: a character converted from
    // UTF-16, or the first bytes of a file that began like a byte order
    // mark and had none.
    char pending[4];
    size_t pending_next, pending_len;
};

// The next byte of the file as it is stored, or END (a read that fails
// makes it END for good).
int fetch(Source* src)
{
    if (src->next == src->end) {
        long n = src->failed ? -1 : src->os->read(src->fd, src->chunk, sizeof src->chunk, src->why, src->why_cap);
        src->failed = src->failed || n < 0;
        if (n <= 0)
            return END;
        src->next = 0;
        src->end = (size_t)n;
    }
    return (unsigned char)src->chunk[src->next++];
}

// The next unit of a UTF-16 file, or END; a file that ends after one byte
// of a unit cannot be whole: that is a failure.
long unit(Source* src)
{
    if (src->ahead >= 0) {
        long u = src->ahead;
        src->ahead = -1;
        return u;
    }
    int a = fetch(src);
    int b = a == END ? END : fetch(src);
    if (a != END && b == END && !src->failed) {
        (void)snprintf(src->why, src->why_cap, "it is saved as UTF-16, and its last character is cut short");
        src->failed = true;
    }
    if (b == END)
        return END;
    return src->encoding == SettingsRecord::UTF16_LE ? a | b << 8 : a << 8 | b;
}

// The next character of a UTF-16 file, a pair of units as the one character
// it is; END at the end. A half of a pair alone is no character (U+FFFD).
long character(Source* src)
{
    long u = unit(src);
    if (u < 0xD800 || u > 0xDFFF)
        return u;
    long low = u <= 0xDBFF ? unit(src) : END;
    if (low >= 0xDC00 && low <= 0xDFFF)
        return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    src->ahead = low;
    return 0xFFFD;
}

// The next byte of the text; END at its end, and from a Ctrl-Z on. A UTF-16
// file gives the bytes under which the system's code page stores each of
// its characters, so that the same text acts the same whatever it is saved as.
int next_byte(Source* src)
{
    if (src->stopped)
        return END;
    if (src->pending_next == src->pending_len && src->encoding != SettingsRecord::BYTES) {
        long c = character(src);
        src->pending_next = 0;
        src->pending_len = c == END ? 0 : src->os->encode_char((uint32_t)c, src->pending);
    }
    int c = src->pending_next < src->pending_len ? (unsigned char)src->pending[src->pending_next++]
            : src->encoding == SettingsRecord::BYTES ? fetch(src)
                                                      : END;
    src->stopped = c == END || c == CTRL_Z;
    return src->stopped ? END : c;
}

// Reads a byte order mark at the start: UTF-8 is skipped, UTF-16 sets the
// encoding; bytes that begin like one but are none are given out as they are.
void read_byte_order_mark(Source* src)
{
    int a = fetch(src);
    int b = a == END ? END : fetch(src);
    if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) {
        src->encoding = a == 0xFF ? SettingsRecord::UTF16_LE : SettingsRecord::UTF16_BE;
        return;
    }
    int c = a == 0xEF && b == 0xBB ? fetch(src) : END;
    if (c == 0xBF)
        return;
    const int bytes[] = {a, b, c};
    for (int byte : bytes)
        if (byte != END)
            src->pending[src->pending_len++] = (char)byte;
}

// Reads one piece into piece (capacity SETTINGS_PIECE_CAP): the characters up
// to and including the next line feed, at most SETTINGS_PIECE_READ - 1, with
// carriage returns dropped. Returns their count, 0 when nothing is left.
size_t read_piece(Source* src, char* piece)
{
    size_t n = 0;
    while (n < SETTINGS_PIECE_READ - 1) {
        int c = next_byte(src);
        if (c == END)
            break;
        if (c == '\r')
            continue;
        piece[n++] = (char)c;
        if (c == '\n')
            break;
    }
    piece[n] = '\0';
    return n;
}

int clamp_margin(int32_t v)
{
    return v < 0 ? 0 : v > 30 ? 30 : (int)v;
}

// Applies one piece that begins with I, M or @, and tells what it did in a.
void apply_piece(const char* piece, int32_t* source_id, int32_t* instance, Margins* margins, SettingsAct* a)
{
    int32_t x = 0, y = 0;
    a->effect = SettingsAct::NO_NUMBER;
    switch (piece[0]) {
    case 'I':
        if (scan_number(piece + 1, 10, &x)) {
            // 32-bit arithmetic without overflow: the difference wraps.
            int32_t shifted = (int32_t)((uint32_t)*instance - (uint32_t)x);
            *instance = shifted < 1 ? 0 : shifted;
            a->effect = SettingsAct::INSTANCE;
        }
        break;
    case 'M': {
        const char* rest = scan_number(piece + 1, 10, &x);
        if (!rest)
            break;
        margins->lead = clamp_margin(x);
        if (*rest == ',' && scan_number(rest + 1, 10, &y))
            margins->trail = clamp_margin(y);
        a->effect = SettingsAct::MARGINS;
        break;
    }
    default: // '@'
        if (*source_id <= 0) {
            a->effect = SettingsAct::MAPPING_SKIPPED;
        } else if (scan_pair(piece + 1, ',', 16, &x, &y)) {
            a->mapping_from = x;
            a->effect = x == *source_id ? SettingsAct::MAPPED : SettingsAct::NOT_MAPPED;
            if (x == *source_id)
                *source_id = y;
        }
    }
}

void apply(Source* src, int32_t* source_id, int32_t* instance, Margins* margins, SettingsRecord* record)
{
    *record = SettingsRecord{};
    read_byte_order_mark(src);
    record->encoding = src->encoding;
    char piece[SETTINGS_PIECE_CAP];
    int line = 1, pieces = 0;
    size_t chars = 0;
    // Pieces until none is left, or a mapping matched: nothing after it
    // acts, so nothing after it is read.
    for (size_t n = 1; n > 0 && !record->mapped_line;) {
        n = read_piece(src, piece); // "" at the end
        size_t len = n > 0 && piece[n - 1] == '\n' ? n - 1 : n;
        // A line ends at its line feed, or where the file ends, if it began.
        bool ends_line = len < n || (n == 0 && pieces > 0);
        pieces += n > 0 ? 1 : 0;
        chars += len;
        if (piece[0] == 'I' || piece[0] == 'M' || piece[0] == '@') {
            SettingsAct a = {};
            a.line = line;
            a.piece = pieces;
            memcpy(a.text, piece, len);
            a.len = len;
            a.instance_before = *instance;
            a.source_before = *source_id;
            apply_piece(piece, source_id, instance, margins, &a);
            a.instance_after = *instance;
            a.source_after = *source_id;
            a.margins = *margins;
            if (a.effect == SettingsAct::MAPPED)
                record->mapped_line = line;
            if ((size_t)record->kept < SETTINGS_ACTS_KEPT)
                record->act[record->kept++] = a;
            record->acts++;
        }
        if (!ends_line)
            continue;
        for (int i = record->kept; i > 0 && record->act[i - 1].line == line; i--) {
            record->act[i - 1].line_chars = chars;
            record->act[i - 1].line_pieces = pieces;
        }
        record->lines = line++;
        pieces = 0;
        chars = 0;
    }
    if (record->mapped_line)
        record->lines = record->mapped_line;
}

} // namespace

SettingsRead settings_read(const char* path, const Platform& os, int32_t* source_id, int32_t* instance,
                           Margins* margins, SettingsRecord* record, char* why, size_t why_cap)
{
    Source src = {};
    src.os = &os;
    src.why = why;
    src.why_cap = why_cap;
    src.ahead = -1;
    src.fd = os.open_regular(path, why, why_cap);
    if (src.fd < 0)
        return SETTINGS_NOT_OPENED;
    apply(&src, source_id, instance, margins, record);
    os.close(src.fd);
    return src.failed ? SETTINGS_READ_FAILED : SETTINGS_APPLIED;
}
