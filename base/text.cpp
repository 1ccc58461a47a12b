// Byte-string helpers that know double-byte characters.
#include "base/text.h"

#include <stdio.h>
#include <string.h>

// Calls visit for the start of every character of s, in order.
template <typename Visit>
static void each_char(const char* s, LeadByteTest is_lead_byte, Visit visit)
{
    for (const char* p = s; *p; p++) {
        visit(p);
        if (is_lead_byte((unsigned char)*p) && p[1])
            p++;
    }
}

const char* text_last_of(const char* s, const char* chars, LeadByteTest is_lead_byte)
{
    const char* last = nullptr;
    each_char(s, is_lead_byte, [&](const char* p) {
        if (strchr(chars, *p))
            last = p;
    });
    return last;
}

const char* text_last_char(const char* s, LeadByteTest is_lead_byte)
{
    const char* last = s;
    each_char(s, is_lead_byte, [&](const char* p) { last = p; });
    return last;
}

// c in lower case, ASCII letters only (the way command words and Windows
// image names compare).
static char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

bool text_starts_any_case(const char* text, const char* word, bool whole)
{
    for (; *word; text++, word++)
        if (lower(*text) != lower(*word))
            return false;
    return !whole || *text == '\0';
}

// True when the len characters at start (a name's last part, before its
// first '.') name a device, blanks at their end not counted.
static bool names_device(const char* start, size_t len, const char* superscripts)
{
    while (len > 0 && start[len - 1] == ' ')
        len--;
    if (len == 3)
        return text_starts_any_case(start, "CON", false) || text_starts_any_case(start, "PRN", false) ||
               text_starts_any_case(start, "AUX", false) || text_starts_any_case(start, "NUL", false);
    if (len != 4 || !(text_starts_any_case(start, "COM", false) || text_starts_any_case(start, "LPT", false)))
        return false;
    unsigned char digit = (unsigned char)start[3];
    return (digit >= '1' && digit <= '9') || (digit >= 0x80 && strchr(superscripts, digit));
}

// Windows takes a last '.' or blank of a name away ("exist.ts." would be
// stored as "exist.ts"), unless it is given in its long form.
static bool cut_by_windows(const char* part, bool long_form, LeadByteTest is_lead_byte)
{
    char last = *text_last_char(part, is_lead_byte);
    return !long_form && *part && (last == '.' || last == ' ');
}

const char* text_windows_name_problem(const char* name, size_t full_len, LeadByteTest is_lead_byte,
                                      const char* superscripts)
{
    // A leading "\\?\" (no limit on the length) or "\\.\", then a drive.
    bool long_form = strncmp(name, "\\\\?\\", 4) == 0;
    const char* rest = long_form || strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
    if (((rest[0] | 0x20) >= 'a' && (rest[0] | 0x20) <= 'z') && rest[1] == ':')
        rest += 2;
    const char* problem = nullptr;
    const char* part = rest;  // the start of the part (between separators) at p
    const char* dot = nullptr; // the first '.' of that part
    size_t part_chars = 0;
    each_char(rest, is_lead_byte, [&](const char* p) {
        char c = *p;
        if (c == '\\' || c == '/') {
            part = p + 1;
            dot = nullptr;
            part_chars = 0;
            return;
        }
        if (!dot && c == '.')
            dot = p;
        if (++part_chars > WINDOWS_NAME_MAX && !problem)
            problem = "a part of it is longer than 255 characters";
        if (strchr("?*|<>", c) && !problem)
            problem = "it holds one of ? * | < >, which no Windows file name may hold";
        if (c == ':' && !problem)
            problem = "it holds a ':' that is no drive's: on NTFS it would name a stream of another file";
    });
    if (problem)
        return problem;
    if (cut_by_windows(part, long_form, is_lead_byte))
        return "it ends with a '.' or a blank, which Windows takes away";
    if (names_device(part, dot ? (size_t)(dot - part) : strlen(part), superscripts))
        return "it names a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9), not a file";
    if (!long_form && full_len > WINDOWS_PATH_MAX)
        return "as a full path it is longer than 259 characters (a leading \\\\?\\ lifts that)";
    return nullptr;
}

size_t text_quote(const char* text, size_t len, char* out, size_t out_cap)
{
    size_t n = 0;
    out[n++] = '"';
    for (size_t i = 0; i < len && n + 5 < out_cap; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c == '"' || c == '\\')
            out[n++] = '\\';
        if (c < ' ' || c == 0x7F)
            n += (size_t)snprintf(out + n, out_cap - n, "\\x%02X", c);
        else
            out[n++] = (char)c;
    }
    out[n++] = '"';
    out[n] = '\0';
    return n;
}

size_t text_utf8(uint32_t code_point, char (&out)[4])
{
    uint32_t c = code_point;
    if (c >= 0x110000 || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out[0] = (char)c;
        return 1;
    }
    size_t n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    for (size_t i = n - 1; i > 0; i--, c >>= 6)
        out[i] = (char)(0x80 | (c & 0x3F));
    const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    out[0] = (char)(lead[n] | c);
    return n;
}

static uint64_t fnv1a(const char* s)
{
    uint64_t h = 14695981039346656037ull;
    for (const char* p = s; *p; p++) {
        h ^= (unsigned char)*p;
        h *= 1099511628211ull;
    }
    return h;
}

bool text_object_name(const char* s, size_t max_len, char* out, size_t out_cap)
{
    size_t cap = out_cap < max_len + 1 ? out_cap : max_len + 1;
    int n = snprintf(out, cap, "quellatorbin:%s", s);
    if (n >= 0 && (size_t)n < cap)
        return true;
    n = snprintf(out, cap, "quellatorbin#%016llx", (unsigned long long)fnv1a(s));
    return n >= 0 && (size_t)n < cap;
}
