// Argument classification: each argument's kind follows from its form alone.
#include "launcher/args.h"

#include "base/numbers.h"
#include "base/text.h"

#include <string.h>

namespace {

// The switches, each a whole argument in any ASCII case.
const char* const HELP_SWITCHES[] = {"--help", "-h", "-?", "/?", "/h"};
const char* const VERSION_SWITCHES[] = {"--version"};
const char* const CHECK_SWITCHES[] = {"--check", "/check"};

template <size_t N>
bool is_one_of(const char* arg, const char* const (&switches)[N])
{
    for (const char* s : switches)
        if (text_starts_any_case(arg, s, true))
            return true;
    return false;
}

template <size_t N>
bool any_is_one_of(int argc, const char* const* argv, const char* const (&switches)[N])
{
    for (int i = 1; i < argc; i++)
        if (is_one_of(argv[i], switches))
            return true;
    return false;
}

// The number after the argument's first character, or 0 when none can be read.
int32_t number_after_key(const char* arg, int base)
{
    int32_t v = 0;
    return scan_number(arg + 1, base, &v) ? v : 0;
}

} // namespace

Mode args_mode(int argc, const char* const* argv)
{
    return any_is_one_of(argc, argv, HELP_SWITCHES)      ? MODE_HELP
           : any_is_one_of(argc, argv, VERSION_SWITCHES) ? MODE_VERSION
           : any_is_one_of(argc, argv, CHECK_SWITCHES)   ? MODE_CHECK
                                                         : MODE_RUN;
}

Invocation args_classify(int argc, const char* const* argv)
{
    Invocation inv = {};
    int source_at = 0, instance_at = 0;
    int32_t pos = 0;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (is_one_of(a, CHECK_SWITCHES))
            continue;
        pos++;
        if (strchr(a, '.')) {
            inv.file_pos = pos;
            inv.file_index = i;
        } else if (a[0] == '@') {
            source_at = i;
        } else if (a[0] == 'I') {
            instance_at = i;
        } else if (a[0] >= '0' && a[0] <= '9') {
            inv.time_pos = pos;
            inv.time_index = i;
        } else if (text_starts_any_case(a, "stop", false)) {
            inv.stop_pos = pos;
        } else if (text_starts_any_case(a, "fn", false)) {
            inv.fixed_name_pos = pos;
        }
    }
    if (source_at)
        inv.source_id = number_after_key(argv[source_at], 16);
    if (instance_at)
        inv.instance = number_after_key(argv[instance_at], 10);
    return inv;
}
