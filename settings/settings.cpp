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
// carriage returns dropped. Returns false when nothing is left.
bool read_piece(Source* src, char* piece)
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
    return n > 0;
}

int clamp_margin(int32_t v)
{
    return v < 0 ? 0 : v > 30 ? 30 : (int)v;
}

// Applies one piece; returns true when a mapping matched and reading ends.
bool apply_piece(const char* piece, int32_t* source_id, int32_t* instance, Margins* margins)
{
    int32_t a = 0, b = 0;
    switch (piece[0]) {
    case 'I':
        if (scan_number(piece + 1, 10, &a)) {
            // 32-bit arithmetic without overflow: the difference wraps.
            int32_t shifted = (int32_t)((uint32_t)*instance - (uint32_t)a);
            *instance = shifted < 1 ? 0 : shifted;
        }
        return false;
    case 'M': {
        const char* rest = scan_number(piece + 1, 10, &a);
        if (!rest)
            return false;
        margins->lead = clamp_margin(a);
        if (*rest == ',' && scan_number(rest + 1, 10, &b))
            margins->trail = clamp_margin(b);
        return false;
    }
    case '@':
        if (*source_id > 0 && scan_pair(piece + 1, ',', 16, &a, &b) && a == *source_id) {
            *source_id = b;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void apply(Source* src, int32_t* source_id, int32_t* instance, Margins* margins)
{
    skip_byte_order_mark(src);
    char piece[SETTINGS_PIECE_CAP];
    while (read_piece(src, piece))
        if (apply_piece(piece, source_id, instance, margins))
            return;
}

} // namespace

void settings_apply(const char* bytes, size_t len, int32_t* source_id, int32_t* instance, Margins* margins)
{
    Source src = {};
    src.fd = -1;
    src.next = bytes;
    src.end = bytes + len;
    apply(&src, source_id, instance, margins);
}

bool settings_read(const char* path, int32_t* source_id, int32_t* instance, Margins* margins)
{
    Source src = {};
    src.fd = platform_open_regular(path);
    if (src.fd < 0)
        return false;
    src.next = src.end = src.chunk;
    apply(&src, source_id, instance, margins);
    platform_close(src.fd);
    return true;
}
