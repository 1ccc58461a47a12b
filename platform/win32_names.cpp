// The names a file is stored under on Windows: the file argument in the
// ANSI code page, from the command line's own UTF-16, each character the
// code page lacks as its look-alike; and the rules of Windows names.
#include "base/text.h"
#include "platform/calls.h"
#include "platform/win32.h"

#include <stdio.h>
#include <string.h>

namespace {

// The program's arguments, as main received them.
int kept_argc = 0;
char** kept_argv = nullptr;


// Look-alikes of characters a code page may lack, as Windows' own best fit
// gives them for the code page that has them (Wine gives '?' instead).
const wchar_t LOOK_ALIKES[][2] = {
    {0x301C, 0xFF5E}, // 〜 WAVE DASH, in very many programme titles: ～
    {0x2212, 0xFF0D}, // − MINUS SIGN: －
    {0x2016, 0x2225}, // ‖ DOUBLE VERTICAL LINE: ∥
    {0x2014, 0x2015}, // — EM DASH: ―
    {0x00A2, 0xFFE0}, // ¢
    {0x00A3, 0xFFE1}, // £
    {0x00AC, 0xFFE2}, // ¬
};

// The bytes of w in the code page (at most 2), or of its look-alike: a
// character of the table, the ASCII one of a full-width form, the code
// page's own best fit. 0 when there is none, or only one that would turn
// the name into another (a '?', a separator, a character no name may hold).
int in_code_page(UINT code_page, wchar_t w, char (&out)[4])
{
    wchar_t tries[] = {w, 0, 0};
    for (const auto& pair : LOOK_ALIKES)
        tries[1] = pair[0] == w ? pair[1] : tries[1];
    tries[2] = w >= 0xFF01 && w <= 0xFF5E ? (wchar_t)(w - 0xFEE0) : 0;
    for (int i = 0; i < 4; i++) {
        BOOL defaulted = FALSE;
        wchar_t c = i < 3 ? tries[i] : w;
        DWORD flags = i < 3 ? WC_NO_BEST_FIT_CHARS : 0;
        int n = c ? SYS(WideCharToMultiByte)(code_page, flags, &c, 1, out, sizeof out, nullptr, &defaulted) : 0;
        if (n > 0 && !defaulted)
            return n == 1 && strchr("?*:\\/\"<>|", out[0]) ? 0 : n;
    }
    return 0;
}

// Writes into out (capacity out_cap) name, an argument of the command line,
// as the code page holds it, from the command line's own UTF-16: each
// character the code page lacks as its look-alike. The C runtime gave main
// such a character as its best fit or as '?'. False, with the reason, for a
// character with no look-alike; *changed tells whether one took a
// character's place. Not an argument (a numbered name): copied as it is.
bool from_command_line(const char* name, char* out, size_t out_cap, bool* changed, char* why, size_t why_cap)
{
    *changed = false;
    int pos = -1;
    for (int i = 0; i < kept_argc; i++)
        if (kept_argv[i] == name)
            pos = i;
    UINT code_page = SYS(GetACP)();
    if (pos < 0 || code_page == CP_UTF8) // UTF-8 holds every character
        return (size_t)snprintf(out, out_cap, "%s", name) < out_cap;
    int wide_argc = 0, new_mode = 0;
    wchar_t **wide_argv = nullptr, **wide_env = nullptr;
    // Split otherwise: a look-alike of a quotation mark or a blank got in.
    bool lost = SYS(__wgetmainargs)(&wide_argc, &wide_argv, &wide_env, 0, &new_mode) < 0 || !wide_argv ||
                wide_argc != kept_argc;
    const wchar_t* given = wide_argv && !lost ? wide_argv[pos] : L"";
    size_t len = 0;
    for (const wchar_t* w = given; *w && !lost; w++) {
        char bytes[4] = {(char)*w};
        int n = *w < 0x80 ? 1 : in_code_page(code_page, *w, bytes);
        lost = n == 0 || len + (size_t)n >= out_cap;
        memcpy(out + len, bytes, lost ? 0 : (size_t)n);
        len += lost ? 0 : (size_t)n;
    }
    out[lost ? 0 : len] = '\0';
    *changed = !lost && strcmp(out, name) != 0;
    if (lost)
        (void)snprintf(why, why_cap, "it holds characters code page %u cannot show", code_page);
    return !lost;
}

// The code page's bytes for the superscript digits 1, 2 and 3, those it has
// as one byte, for the names of the devices COM¹ and LPT¹ and the like.
void superscript_digits(char (&out)[4])
{
    const wchar_t digits[] = {0xB9, 0xB2, 0xB3};
    size_t n = 0;
    for (wchar_t digit : digits) {
        char byte[2];
        BOOL defaulted = FALSE;
        if (SYS(WideCharToMultiByte)(CP_ACP, WC_NO_BEST_FIT_CHARS, &digit, 1, byte, sizeof byte, nullptr,
                                     &defaulted) == 1 &&
            !defaulted)
            out[n++] = byte[0];
    }
    out[n] = '\0';
}

} // namespace

bool win32_store_name(const char* name, char* out, size_t out_cap, char* why, size_t why_cap)
{
    bool changed = false;
    why[0] = '\0';
    if (!from_command_line(name, out, out_cap, &changed, why, why_cap))
        return false;
    const wchar_t* w = win32_wide(out);
    DWORD full_len = w ? SYS(GetFullPathNameW)(w, 0, nullptr, nullptr) : 0;
    char superscripts[4];
    superscript_digits(superscripts);
    const char* problem = text_windows_name_problem(out, full_len > 0 ? full_len - 1 : 0, win32_is_lead_byte, superscripts);
    if (problem)
        (void)snprintf(why, why_cap, "%s", problem);
    else if (changed)
        (void)snprintf(why, why_cap, "the name given is stored as %s: look-alikes take the place of characters "
                       "code page %u lacks", out, SYS(GetACP)());
    return problem == nullptr;
}

void win32_keep_arguments(int argc, char** argv)
{
    kept_argc = argc;
    kept_argv = argv;
}
