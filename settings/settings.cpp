// The settings file reader. It does its own text-mode handling (carriage
// returns dropped, Ctrl-Z ends the file) so every build reads a file alike.
#include "settings/settings.h"

#include "launcher/limits.h"
#include "launcher/numbers.h"

#include <sys/stat.h>

#if defined(_WIN32)
#define getc_fast _getc_nolock
#else
#define getc_fast getc_unlocked
#endif

const int CTRL_Z = 26;

// Reads one piece into piece (capacity SETTINGS_PIECE_CAP): the characters up
// to and including the next line feed, at most SETTINGS_PIECE_READ - 1.
// Returns false when nothing is left; *ended is set once Ctrl-Z was seen.
static bool read_piece(FILE* file, char* piece, bool* ended)
{
    size_t n = 0;
    while (!*ended && n < SETTINGS_PIECE_READ - 1) {
        int c = getc_fast(file);
        if (c == EOF || c == CTRL_Z) {
            *ended = true;
            break;
        }
        if (c == '\r')
            continue;
        piece[n++] = (char)c;
        if (c == '\n')
            break;
    }
    piece[n] = '\0';
    return n > 0;
}

static int clamp_margin(int32_t v)
{
    return v < 0 ? 0 : v > 30 ? 30 : (int)v;
}

// Applies one piece; returns true when a mapping matched and reading ends.
static bool apply_piece(const char* piece, Invocation* inv, Margins* margins)
{
    int32_t a = 0, b = 0;
    switch (piece[0]) {
    case 'I':
        if (scan_number(piece + 1, 10, &a)) {
            // 32-bit arithmetic without overflow: the difference wraps.
            int32_t shifted = (int32_t)((uint32_t)inv->instance - (uint32_t)a);
            inv->instance = shifted < 1 ? 0 : shifted;
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
        if (inv->source_id > 0 && scan_pair(piece + 1, ',', 16, &a, &b) && a == inv->source_id) {
            inv->source_id = b;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void settings_apply(FILE* file, Invocation* inv, Margins* margins)
{
    char piece[SETTINGS_PIECE_CAP];
    bool ended = false;
    while (read_piece(file, piece, &ended))
        if (apply_piece(piece, inv, margins))
            return;
}

// Only a regular file holds settings. A directory opens for reading on some
// systems; opening a FIFO blocks until a writer comes, and a device such as
// /dev/zero never ends: each of them would hang the run.
static bool is_regular(const struct stat& st)
{
    return (st.st_mode & S_IFMT) == S_IFREG;
}

bool settings_read(const char* path, Invocation* inv, Margins* margins)
{
    struct stat st = {};
    if (stat(path, &st) != 0 || !is_regular(st))
        return false;
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    if (fstat(fileno(file), &st) != 0 || !is_regular(st)) {
        (void)fclose(file);
        return false;
    }
    settings_apply(file, inv, margins);
    (void)fclose(file); // opened for reading: nothing is lost when closing fails
    return true;
}
