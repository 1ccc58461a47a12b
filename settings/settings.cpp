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

// The next byte of the file, or END after the last one and from a Ctrl-Z
// on. A file that cannot be read further ends there.
int raw_byte(Source* src)
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
    int c = (unsigned char)*src->next++;
    if (c == CTRL_Z) {
        src->ended = true;
        return END;
    }
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

int next_byte(Source* src)
{
    if (src->held_next < src->held_len)
        return src->held[src->held_next++];
    return raw_byte(src);
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

// Applies one piece and tells what it did in e (effect, before, after).
void apply_piece(const char* piece, int32_t* source_id, int32_t* instance, Margins* margins, SettingsEvent* e)
{
    int32_t a = 0, b = 0;
    e->effect = SettingsEvent::NO_NUMBER;
    e->before = e->after = 0;
    switch (piece[0]) {
    case 'I':
        if (scan_number(piece + 1, 10, &a)) {
            // 32-bit arithmetic without overflow: the difference wraps.
            int32_t shifted = (int32_t)((uint32_t)*instance - (uint32_t)a);
            e->before = *instance;
            *instance = shifted < 1 ? 0 : shifted;
            e->after = *instance;
            e->effect = SettingsEvent::INSTANCE;
        }
        break;
    case 'M': {
        const char* rest = scan_number(piece + 1, 10, &a);
        if (!rest)
            break;
        margins->lead = clamp_margin(a);
        if (*rest == ',' && scan_number(rest + 1, 10, &b))
            margins->trail = clamp_margin(b);
        e->effect = SettingsEvent::MARGINS;
        break;
    }
    case '@':
        e->before = *source_id;
        if (*source_id <= 0) {
            e->effect = SettingsEvent::MAPPING_SKIPPED;
        } else if (scan_pair(piece + 1, ',', 16, &a, &b)) {
            bool matched = a == *source_id;
            if (matched)
                *source_id = b;
            e->effect = matched ? SettingsEvent::MAPPED : SettingsEvent::NOT_MAPPED;
            e->after = matched ? b : a; // not matched: the id it maps from
        }
        break;
    default:
        e->effect = SettingsEvent::REMARK;
    }
    e->margins = *margins;
}

void tell(const SettingsTrace* trace, const SettingsEvent& e)
{
    if (trace)
        trace->event(trace->context, e);
}

// Counts what is left after a mapping matched: the rest of the line it
// stands on, and the lines after it; tells the trace which were not read.
void tell_unread(Source* src, int line, bool line_ended, const SettingsTrace* trace)
{
    SettingsEvent e = {};
    e.kind = SettingsEvent::UNREAD;
    e.line = line;
    e.last_line = line;
    bool in_line = false;
    for (int c = next_byte(src); c != END; c = next_byte(src)) {
        if (!line_ended) {
            e.rest_of_line = e.rest_of_line || (c != '\r' && c != '\n');
            line_ended = c == '\n';
            continue;
        }
        if (!in_line)
            e.last_line++;
        in_line = c != '\n';
    }
    if (e.rest_of_line || e.last_line > line)
        tell(trace, e);
}

// Tells the trace of a line read in several pieces, once the line is done.
void tell_line_done(const SettingsEvent& last_piece, size_t line_length, const SettingsTrace* trace)
{
    if (last_piece.piece < 2)
        return;
    SettingsEvent e = {};
    e.kind = SettingsEvent::LONG_LINE;
    e.line = last_piece.line;
    e.piece = last_piece.piece;
    e.len = line_length;
    tell(trace, e);
}

void apply(Source* src, int32_t* source_id, int32_t* instance, Margins* margins, const SettingsTrace* trace)
{
    skip_byte_order_mark(src);
    char piece[SETTINGS_PIECE_CAP];
    SettingsEvent e = {};
    e.line = 1;
    size_t line_length = 0;
    for (size_t n = read_piece(src, piece); n > 0; n = read_piece(src, piece)) {
        bool line_ended = piece[n - 1] == '\n';
        e.kind = SettingsEvent::PIECE;
        e.piece++;
        e.text = piece;
        e.len = n - (line_ended ? 1 : 0);
        line_length += e.len;
        apply_piece(piece, source_id, instance, margins, &e);
        tell(trace, e);
        if (e.effect == SettingsEvent::MAPPED) {
            if (trace)
                tell_unread(src, e.line, line_ended, trace);
            return;
        }
        if (line_ended) {
            tell_line_done(e, line_length, trace);
            e.line++;
            e.piece = 0;
            line_length = 0;
        }
    }
    tell_line_done(e, line_length, trace); // a last line without a line feed
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
