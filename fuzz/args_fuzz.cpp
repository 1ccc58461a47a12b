// Argument classification and number reading. The input, split at its NUL
// bytes, is the argument vector after the program's own name.
//
// Properties: each field names the last argument of its kind, by a plain
// restatement of the rules; the numbers agree with the C library's strtoull
// (low 32 bits) wherever it reads without overflow, and for hex with the value
// of the last eight digits; the argument texts are left as they were.
#include "launcher/args.h"
#include "base/numbers.h"

#include "check.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

enum Kind { NONE, FILE_ARG, SOURCE, INSTANCE, TIME, STOP, FIXED };

bool begins_any_case(const std::string& s, const char* word)
{
    size_t n = strlen(word);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)s[i]) != word[i])
            return false;
    return true;
}

Kind kind_of(const std::string& s)
{
    if (s.find('.') != std::string::npos)
        return FILE_ARG;
    if (s.empty())
        return NONE;
    if (s[0] == '@')
        return SOURCE;
    if (s[0] == 'I')
        return INSTANCE;
    if (isdigit((unsigned char)s[0]))
        return TIME;
    if (begins_any_case(s, "stop"))
        return STOP;
    if (begins_any_case(s, "fn"))
        return FIXED;
    return NONE;
}

bool is_hex(char c)
{
    return isxdigit((unsigned char)c) != 0;
}

// Checks scan_number on text against strtoull: the same end of the number,
// and the same value modulo 2^32 when strtoull did not overflow. Returns the
// value the launcher should take (0 when no number is read).
int32_t check_number(const char* text, int base)
{
    int32_t got = 12345;
    const char* end = scan_number(text, base, &got);
    char* ref_end = nullptr;
    errno = 0;
    unsigned long long ref = strtoull(text, &ref_end, base);
    bool overflow = errno == ERANGE;
    if (ref_end == text) {
        FUZZ_CHECK(end == nullptr);
        FUZZ_CHECK(got == 12345); // nothing stored when nothing is read
        return 0;
    }
    FUZZ_CHECK(end == ref_end);
    if (!overflow)
        FUZZ_CHECK((uint32_t)got == (uint32_t)ref);
    if (base == 16) {
        // Modulo 2^32 a hex number is its last eight digits, negated for '-'.
        const char* digits = end;
        uint32_t low = 0, scale = 1;
        for (int i = 0; i < 8 && digits > text && is_hex(digits[-1]); i++, scale <<= 4) {
            char d = *--digits;
            uint32_t v = (uint32_t)(isdigit((unsigned char)d) ? d - '0' : tolower((unsigned char)d) - 'a' + 10);
            low += v * scale;
        }
        bool negative = text[strspn(text, " \t\n\v\f\r")] == '-';
        FUZZ_CHECK((uint32_t)got == (negative ? 0u - low : low));
    }
    return got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args{"quellatorbin"};
    std::string cur;
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0) {
            args.push_back(cur);
            cur.clear();
        } else {
            cur.push_back((char)data[i]);
        }
    }
    args.push_back(cur);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::vector<std::string> before = args;

    Invocation inv = args_classify((int)args.size(), argv.data());

    int32_t last[7] = {};
    for (size_t i = 1; i < args.size(); i++)
        last[kind_of(args[i])] = (int32_t)i;
    FUZZ_CHECK(inv.file_pos == last[FILE_ARG]);
    FUZZ_CHECK(inv.time_pos == last[TIME]);
    FUZZ_CHECK(inv.stop_pos == last[STOP]);
    FUZZ_CHECK(inv.fixed_name_pos == last[FIXED]);
    int32_t source = last[SOURCE] ? check_number(argv[last[SOURCE]] + 1, 16) : 0;
    int32_t instance = last[INSTANCE] ? check_number(argv[last[INSTANCE]] + 1, 10) : 0;
    FUZZ_CHECK(inv.source_id == source);
    FUZZ_CHECK(inv.instance == instance);
    for (size_t i = 0; i < args.size(); i++)
        FUZZ_CHECK(args[i] == before[i] && argv[i] == args[i].c_str());

    // Every argument's tail read as a number of either base, as the settings
    // lines and the time argument are read.
    for (size_t i = 1; i < args.size(); i++) {
        check_number(argv[i], 10);
        check_number(argv[i], 16);
    }
    return 0;
}
