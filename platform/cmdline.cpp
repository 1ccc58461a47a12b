// The Microsoft C runtime's command-line splitting, for platforms that start
// programs from an argv.
#include "platform/cmdline.h"

namespace {

struct Out {
    char* store;
    size_t cap;
    size_t len;
    bool full;
};

void put(Out* o, char c)
{
    if (o->len < o->cap)
        o->store[o->len++] = c;
    else
        o->full = true;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// One word: from p up to an unquoted blank or tab, or the end.
const char* word(const char* p, Out* o)
{
    bool quoted = false;
    for (;;) {
        unsigned slashes = 0;
        while (*p == '\\') {
            p++;
            slashes++;
        }
        bool literal = true;
        if (*p == '"') {
            if (slashes % 2 == 0) {
                if (quoted && p[1] == '"')
                    p++; // "" inside a group: one literal quote
                else {
                    literal = false;
                    quoted = !quoted;
                }
            }
            slashes /= 2;
        }
        for (; slashes > 0; slashes--)
            put(o, '\\');
        if (*p == '\0' || (!quoted && is_blank(*p)))
            return p;
        if (literal)
            put(o, *p);
        p++;
    }
}

} // namespace

int cmdline_split(const char* text, char* store, size_t store_cap, char** words, int words_cap)
{
    Out o = {store, store_cap, 0, false};
    int n = 0;
    const char* p = text;
    // The program name is a word like any other, and it is always there:
    // a text that is empty or begins with a blank gives an empty one.
    do {
        if (n + 1 >= words_cap)
            return -1;
        size_t start = o.len;
        p = word(p, &o);
        put(&o, '\0');
        if (o.full)
            return -1;
        words[n++] = store + start;
        while (is_blank(*p))
            p++;
    } while (*p);
    words[n] = nullptr;
    return n;
}
