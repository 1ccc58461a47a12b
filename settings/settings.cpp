// The settings file reader. It does its own text-mode handling (carriage
// returns dropped, Ctrl-Z ends the file) so every build reads a file alike,
// and reads the file in chunks of its own through the platform table.
#include "settings/settings.h"

#include "base/numbers.h"

#include <string.h>

namespace {

const int CTRL_Z = 26;
const int END = -1;
const size_t CHUNK_CAP = 4096;

// The bytes of a settings file: from memory, then (fd >= 0) from the file.
struct Source {
    const Platform* os;
    int fd;
    const char* next;
    const char* end;
    bool ended;   // every byte is read, or a read failed
    bool failed;  // a read failed (why)
    char* why;
    size_t why_cap;
    bool stopped; // a Ctrl-Z was met
    SettingsRecord::Encoding encoding;
    // The first bytes, held back while they could be a byte order mark.
    int held[3];
    size_t held_len, held_next;
    char chunk[CHUNK_CAP];
};

// The next byte of the file, or END.
int fetch(Source* src)
{
    if (src->held_next < src->held_len)
        return src->held[src->held_next++];
    if (src->next == src->end) {
        long n = src->ended || src->fd < 0 ? 0 : src->os->read(src->fd, src->chunk, sizeof src->chunk, src->why,
                                                                 src->why_cap);
        if (n <= 0) {
            src->failed = src->failed || n < 0;
            src->ended = true;
            return END;
        }
        src->next = src->chunk;
        src->end = src->chunk + n;
    }
    return (unsigned char)*src->next++;
}

// The next character: a byte, or a UTF-16 character ('?' for one that is
// no ASCII character); END at the end and from a Ctrl-Z on.
int decode(Source* src)
{
    int c = END;
    if (src->stopped)
        return END;
    if (src->encoding == SettingsRecord::BYTES) {
        c = fetch(src);
    } else {
        for (;;) {
            int a = fetch(src), b = fetch(src);
            if (a == END || b == END)
                break;
            int unit = src->encoding == SettingsRecord::UTF16_LE ? a | b << 8 : a << 8 | b;
            if (unit >= 0xDC00 && unit <= 0xDFFF)
                continue; // the second half of a pair: its first gave the '?'
            c = unit < 0x80 ? unit : '?';
            break;
        }
    }
    src->stopped = c == CTRL_Z;
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
            src->held[src->held_len++] = byte;
}

// Reads one piece into piece (capacity SETTINGS_PIECE_CAP): the characters up
// to and including the next line feed, at most SETTINGS_PIECE_READ - 1, with
// carriage returns dropped. Returns their count, 0 when nothing is left.
size_t read_piece(Source* src, char* piece)
{
    size_t n = 0;
    while (n < SETTINGS_PIECE_READ - 1) {
        int c = decode(src);
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
    size_t n = 0;
    do {
        n = read_piece(src, piece); // "" at the end
        size_t len = n > 0 && piece[n - 1] == '\n' ? n - 1 : n;
        // A line ends at its line feed, or where the file ends, if it began.
        bool ends_line = len < n || (n == 0 && pieces > 0);
        pieces += n > 0 ? 1 : 0;
        chars += len;
        if (record->mapped_line) {
            record->rest_unread = record->rest_unread || (line == record->mapped_line && len > 0);
        } else if (piece[0] == 'I' || piece[0] == 'M' || piece[0] == '@') {
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
    } while (n > 0);
}

} // namespace

void settings_apply(const char* bytes, size_t len, int32_t* source_id, int32_t* instance, Margins* margins,
                    SettingsRecord* record)
{
    Source src = {};
    src.fd = -1;
    src.next = bytes;
    src.end = bytes + len;
    apply(&src, source_id, instance, margins, record);
}

SettingsRead settings_read(const char* path, const Platform& os, int32_t* source_id, int32_t* instance,
                           Margins* margins, SettingsRecord* record, char* why, size_t why_cap)
{
    Source src = {};
    src.os = &os;
    src.why = why;
    src.why_cap = why_cap;
    src.fd = os.open_regular(path, why, why_cap);
    if (src.fd < 0)
        return SETTINGS_NOT_OPENED;
    src.next = src.end = src.chunk;
    apply(&src, source_id, instance, margins, record);
    os.close(src.fd);
    return src.failed ? SETTINGS_READ_FAILED : SETTINGS_APPLIED;
}
