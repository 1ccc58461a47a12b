// Argument classification: each argument's kind follows from its form alone.
#include "launcher/args.h"

#include "base/numbers.h"
#include "base/text.h"

#include <string.h>

// The number after the argument's first character, or 0 when none can be read.
static int32_t number_after_key(const char* arg, int base)
{
    int32_t v = 0;
    return scan_number(arg + 1, base, &v) ? v : 0;
}

Invocation args_classify(int argc, const char* const* argv)
{
    Invocation inv = {};
    int32_t source_pos = 0, instance_pos = 0;
    for (int32_t i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (strchr(a, '.'))
            inv.file_pos = i;
        else if (a[0] == '@')
            source_pos = i;
        else if (a[0] == 'I')
            instance_pos = i;
        else if (a[0] >= '0' && a[0] <= '9')
            inv.time_pos = i;
        else if (text_starts_any_case(a, "stop", false))
            inv.stop_pos = i;
        else if (text_starts_any_case(a, "fn", false))
            inv.fixed_name_pos = i;
    }
    if (source_pos)
        inv.source_id = number_after_key(argv[source_pos], 16);
    if (instance_pos)
        inv.instance = number_after_key(argv[instance_pos], 10);
    return inv;
}
