// The names a file is stored under on Windows: the file argument in the
// ANSI code page, from the command line's own UTF-16, each character the
// code page lacks as its look-alike; and the rules of Windows names.
#include "base/text.h"
#include "platform/calls.h"
#include "platform/win32.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

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

// What became of converting an argument from the command line's UTF-16.
enum Conversion {
    CONVERTED,       // out holds it
    NO_LOOK_ALIKE,   // a character the code page lacks has no look-alike
    TOO_LONG,        // it does not fit out
    SPLIT_OTHERWISE, // the wide command line gives other arguments than main's
    NOT_HAD,         // the wide command line cannot be had (errno)
};

// Writes into out (capacity out_cap) argument pos of the command line as
// the code page holds it, from the command line's own UTF-16: each
// character the code page lacks as its look-alike. (The C runtime gave
// main such a character as its best fit or as '?'.)
Conversion from_command_line(int argc, int pos, UINT code_page, char* out, size_t out_cap)
{
    int wide_argc = 0, new_mode = 0;
    wchar_t **wide_argv = nullptr, **wide_env = nullptr;
    if (SYS(__wgetmainargs)(&wide_argc, &wide_argv, &wide_env, 0, &new_mode) < 0 || !wide_argv)
        return NOT_HAD;
    // Split otherwise: a look-alike of a quotation mark or a blank got in.
    if (wide_argc != argc)
        return SPLIT_OTHERWISE;
    size_t len = 0;
    for (const wchar_t* w = wide_argv[pos]; *w; w++) {
        char bytes[4] = {(char)*w};
        int n = *w < 0x80 ? 1 : in_code_page(code_page, *w, bytes);
        if (n == 0)
            return NO_LOOK_ALIKE;
        if (len + (size_t)n >= out_cap)
            return TOO_LONG;
        memcpy(out + len, bytes, (size_t)n);
        len += (size_t)n;
    }
    out[len] = '\0';
    return CONVERTED;
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

bool win32_can_store(const char* name, char* why, size_t why_cap)
{
    const wchar_t* w = win32_wide(name);
    DWORD full_len = w ? SYS(GetFullPathNameW)(w, 0, nullptr, nullptr) : 0;
    char superscripts[4];
    superscript_digits(superscripts);
    const char* problem =
        text_windows_name_problem(name, full_len > 0 ? full_len - 1 : 0, win32_is_lead_byte, superscripts);
    if (problem)
        (void)snprintf(why, why_cap, "%s", problem);
    return problem == nullptr;
}

StoredName win32_file_argument(int argc, const char* const* argv, int pos, char* out, size_t out_cap, char* why,
                               size_t why_cap)
{
    UINT code_page = SYS(GetACP)();
    Conversion c = code_page == CP_UTF8 // UTF-8 holds every character
                       ? (size_t)snprintf(out, out_cap, "%s", argv[pos]) < out_cap ? CONVERTED : TOO_LONG
                       : from_command_line(argc, pos, code_page, out, out_cap);
    if (c == NOT_HAD)
        (void)snprintf(why, why_cap, "its characters cannot be had from the command line: %s", strerror(errno));
    else if (c == NO_LOOK_ALIKE || c == SPLIT_OTHERWISE)
        (void)snprintf(why, why_cap, "it holds characters code page %u cannot show", code_page);
    else if (c == TOO_LONG)
        (void)snprintf(why, why_cap, "in code page %u it is longer than %u bytes", code_page, (unsigned)(out_cap - 1));
    if (c != CONVERTED || !win32_can_store(out, why, why_cap))
        return NOT_STORABLE;
    if (strcmp(out, argv[pos]) == 0)
        return STORED_AS_GIVEN;
    (void)snprintf(why, why_cap, "look-alikes take the place of characters code page %u lacks", code_page);
    return STORED_WITH_LOOK_ALIKES;
}

OutputDir win32_output_dir(const char* name, char* dir)
{
    const char* sep = text_last_of(name, "\\/", win32_is_lead_byte);
    bool drive = !sep && name[0] && name[1] == ':';
    size_t len = sep ? (size_t)(sep - name) + 1 : drive ? 2 : 0; // fits: a name fits OUTPUT_NAME_CAP
    memcpy(dir, name, len);
    dir[len] = '\0';
    return sep ? DIR_NAMED : drive ? DIR_DRIVE_CURRENT : DIR_CURRENT;
}

size_t win32_encode_char(uint32_t code_point, char (&out)[4])
{
    // As a text file saved in the code page holds it: the code page's
    // bytes, or its best fit, else its default character.
    wchar_t units[2] = {(wchar_t)code_point, 0};
    int n_units = 1;
    if (code_point >= 0x10000 && code_point < 0x110000) {
        units[0] = (wchar_t)(0xD800 + ((code_point - 0x10000) >> 10));
        units[1] = (wchar_t)(0xDC00 + ((code_point - 0x10000) & 0x3FF));
        n_units = 2;
    }
    int n = SYS(WideCharToMultiByte)(CP_ACP, 0, units, n_units, out, (int)sizeof out, nullptr, nullptr);
    if (n > 0)
        return (size_t)n;
    out[0] = '?';
    return 1;
}
