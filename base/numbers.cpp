// Reads numbers the way the formatted scan's "%d" and "%X" do, with the value
// kept in 32 bits whatever its length.
#include "base/numbers.h"

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static int digit_value(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

const char* scan_number(const char* s, int base, int32_t* value)
{
    while (is_blank(*s))
        s++;
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        s++;
    }
    // "0x" is a prefix only when a hex digit follows; "0xz" reads as 0.
    if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && digit_value(s[2], 16) >= 0)
        s += 2;
    if (digit_value(*s, base) < 0)
        return nullptr;
    uint32_t v = 0;
    for (int d = digit_value(*s, base); d >= 0; d = digit_value(*++s, base))
        v = v * (uint32_t)base + (uint32_t)d;
    if (negative)
        v = 0u - v;
    *value = (int32_t)v;
    return s;
}

bool scan_pair(const char* s, char sep, int base, int32_t* first, int32_t* second)
{
    int32_t a = 0, b = 0;
    s = scan_number(s, base, &a);
    if (!s || *s != sep || !scan_number(s + 1, base, &b))
        return false;
    *first = a;
    *second = b;
    return true;
}
