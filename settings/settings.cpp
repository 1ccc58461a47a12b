// The settings file reader. It does its own text-mode handling (carriage
// returns dropped, Ctrl-Z ends the file) so every build reads a file alike,
// and reads the file in chunks of its own through the platform layer.
#include "settings/settings.h"

#include "base/limits.h"
#include "base/numbers.h"
#include "platform/platform.h"

namespace {

const int CTRL_Z = 26;
const int END = -1;
const size_t CHUNK_CAP = 4096;

// A UTF-8 byte order mark, which editors on Windows often write first.
const unsigned char BYTE_ORDER_MARK[] = {0xEF, 0xBB, 0xBF};

// The bytes of a settings file: from memory, then (fd >= 0) from the file.
struct Source {
    int fd;
    const char* next;
    const char* end;
    bool ended; // the end of the bytes or a Ctrl-Z was reached
    char chunk[CHUNK_CAP];
    // The first bytes, held back while they could be a byte order mark.
    int held[sizeof BYTE_ORDER_MARK];
    size_t held_len, held_next;
};

// The next byte of the file without taking it, or END after the last one
// and from a Ctrl-Z on. A file that cannot be read further ends there.
int peek_raw(Source* src)
{
    if (src->ended)
        return END;
    if (src->next == src->end) {
        long n = src->fd >= 0 ? platform_read(src->fd, src->chunk, sizeof src->chunk) : 0;
        if (n <= 0) {
            src->ended = true;
            return END;
        }
        src->next = src->chunk;
        src->end = src->chunk + n;
    }
    int c = (unsigned char)*src->next;
    if (c == CTRL_Z) {
        src->ended = true;
        return END;
    }
    return c;
}

int raw_byte(Source* src)
{
    int c = peek_raw(src);
    if (c != END)
        src->next++;
    return c;
}

// Skips a byte order mark at the start; bytes that begin like one but are
// none are given out as they are.
void skip_byte_order_mark(Source* src)
{
    while (src->held_len < sizeof BYTE_ORDER_MARK) {
        int c = raw_byte(src);
        if (c == END)
            return;
        src->held[src->held_len++] = c;
        if (c != BYTE_ORDER_MARK[src->held_len - 1])
            return;
    }
    src->held_len = 0;
}

int peek_byte(Source* src)
{
    return src->held_next < src->held_len ? src->held[src->held_next] : peek_raw(src);
}

int next_byte(Source* src)
{
    if (src->held_next < src->held_len)
        return src->held[src->held_next++];
    return raw_byte(src);
}

// Reads one piece into piece (capacity SETTINGS_PIECE_CAP): the characters up
// to and including the next line feed, at most SETTINGS_PIECE_READ - 1, with
// carriage returns dropped. Returns their count, 0 when nothing is left;
// *ends_line tells whether its line ends with it: at its line feed, or where
// the file ends.
size_t read_piece(Source* src, char* piece, bool* ends_line)
{
    size_t n = 0;
    *ends_line = true;
    for (;;) {
        if (n == SETTINGS_PIECE_READ - 1) {
            // A full piece: its line goes on, unless the file ends here.
            while (peek_byte(src) == '\r')
                next_byte(src);
            *ends_line = peek_byte(src) == END;
            break;
        }
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

// Applies one piece and tells what it did in p (effect, mapping_from).
void apply_piece(const char* piece, int32_t* source_id, int32_t* instance, Margins* margins, SettingsPiece* p)
{
    int32_t a = 0, b = 0;
    p->effect = SettingsPiece::NO_NUMBER;
    switch (piece[0]) {
    case 'I':
        if (scan_number(piece + 1, 10, &a)) {
            // 32-bit arithmetic without overflow: the difference wraps.
            int32_t shifted = (int32_t)((uint32_t)*instance - (uint32_t)a);
            *instance = shifted < 1 ? 0 : shifted;
            p->effect = SettingsPiece::INSTANCE;
        }
        break;
    case 'M': {
        const char* rest = scan_number(piece + 1, 10, &a);
        if (!rest)
            break;
        margins->lead = clamp_margin(a);
        if (*rest == ',' && scan_number(rest + 1, 10, &b))
            margins->trail = clamp_margin(b);
        p->effect = SettingsPiece::MARGINS;
        break;
    }
    case '@':
        if (*source_id <= 0) {
            p->effect = SettingsPiece::MAPPING_SKIPPED;
        } else if (scan_pair(piece + 1, ',', 16, &a, &b)) {
            p->mapping_from = a;
            p->effect = a == *source_id ? SettingsPiece::MAPPED : SettingsPiece::NOT_MAPPED;
            if (a == *source_id)
                *source_id = b;
        }
        break;
    default:
        p->effect = SettingsPiece::REMARK;
    }
}

void apply(Source* src, int32_t* source_id, int32_t* instance, Margins* margins, const SettingsTrace* trace)
{
    skip_byte_order_mark(src);
    char piece[SETTINGS_PIECE_CAP];
    bool ends_line = false, mapped = false;
    for (size_t n = read_piece(src, piece, &ends_line); n > 0; n = read_piece(src, piece, &ends_line)) {
        SettingsPiece p = {};
        p.text = piece;
        p.len = n - (piece[n - 1] == '\n' ? 1 : 0);
        p.ends_line = ends_line;
        p.instance_before = *instance;
        p.source_before = *source_id;
        if (mapped)
            p.effect = SettingsPiece::NOT_READ;
        else
            apply_piece(piece, source_id, instance, margins, &p);
        p.instance_after = *instance;
        p.source_after = *source_id;
        p.margins = *margins;
        mapped = mapped || p.effect == SettingsPiece::MAPPED;
        if (trace)
            trace->piece(trace->context, p);
        else if (mapped)
            return; // the first matching mapping ends the reading
    }
}

} // namespace

void settings_apply(const char* bytes, size_t len, int32_t* source_id, int32_t* instance, Margins* margins,
                    const SettingsTrace* trace)
{
    Source src = {};
    src.fd = -1;
    src.next = bytes;
    src.end = bytes + len;
    apply(&src, source_id, instance, margins, trace);
}

bool settings_read(const char* path, int32_t* source_id, int32_t* instance, Margins* margins,
                   const SettingsTrace* trace)
{
    Source src = {};
    src.fd = platform_open_regular(path);
    if (src.fd < 0)
        return false;
    src.next = src.end = src.chunk;
    apply(&src, source_id, instance, margins, trace);
    platform_close(src.fd);
    return true;
}
