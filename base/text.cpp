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

char text_lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

bool text_starts_any_case(const char* text, const char* word, bool whole)
{
    for (; *word; text++, word++)
        if (text_lower(*text) != text_lower(*word))
            return false;
    return !whole || *text == '\0';
}

bool text_holds_any(const char* s, const char* chars)
{
    for (const char* p = s; *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (c < ' ' || c == 0x7F || strchr(chars, c))
            return true;
    }
    return false;
}

uint64_t text_hash(const char* s)
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
    n = snprintf(out, cap, "quellatorbin#%016llx", (unsigned long long)text_hash(s));
    return n >= 0 && (size_t)n < cap;
}
