// The settings reader. The whole input is the settings file's bytes, applied
// to a few starting records as a run would have them.
//
// Properties: margins always end within 0 to 30; an instance number never
// ends negative once an 'I' line acted, and never changes without one; a
// source id of 0 or below is never mapped; and the result equals that of a
// plain model that cuts the file into pieces with std::string (a leading
// byte order mark skipped, carriage returns dropped, Ctrl-Z ends the file, at most 14 characters up to and
// including a line feed) and applies them one by one. Told piece by piece,
// the reader gives the model's pieces (read on past a matching mapping),
// ends a line exactly at each line feed and at the file's end, applies
// nothing after the mapping that matched, and gives the same result.
#include "base/numbers.h"
#include "settings/settings.h"

#include "check.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> pieces_of(const uint8_t* data, size_t size)
{
    std::string text;
    size_t start = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0; // a byte order mark
    for (size_t i = start; i < size && data[i] != 26; i++)
        if (data[i] != '\r')
            text.push_back((char)data[i]);
    std::vector<std::string> pieces;
    std::string cur;
    for (char c : text) {
        cur.push_back(c);
        if (c == '\n' || cur.size() == 14) {
            pieces.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty())
        pieces.push_back(cur);
    return pieces;
}

struct State {
    int32_t source_id, instance;
    int lead, trail;
};

int clamp(int32_t v)
{
    return v < 0 ? 0 : v > 30 ? 30 : (int)v;
}

State model(const std::vector<std::string>& pieces, State s)
{
    for (const std::string& p : pieces) {
        const char* t = p.c_str(); // a NUL byte ends the piece's text
        int32_t a = 0, b = 0;
        if (t[0] == 'I' && scan_number(t + 1, 10, &a)) {
            int64_t shifted = (int64_t)s.instance - a;
            int32_t wrapped = (int32_t)(uint32_t)(uint64_t)shifted;
            s.instance = wrapped < 1 ? 0 : wrapped;
        } else if (t[0] == 'M') {
            const char* rest = scan_number(t + 1, 10, &a);
            if (rest) {
                s.lead = clamp(a);
                if (*rest == ',' && scan_number(rest + 1, 10, &b))
                    s.trail = clamp(b);
            }
        } else if (t[0] == '@' && s.source_id > 0 && scan_pair(t + 1, ',', 16, &a, &b) && a == s.source_id) {
            s.source_id = b;
            break;
        }
    }
    return s;
}

struct Told {
    std::vector<std::string> pieces;
    std::vector<bool> ends;
    std::vector<SettingsPiece::Effect> effects;
};

void tell(void* context, const SettingsPiece& p)
{
    Told& t = *static_cast<Told*>(context);
    bool feed = p.text[p.len] == '\n';
    t.pieces.push_back(std::string(p.text, p.len) + (feed ? "\n" : ""));
    t.ends.push_back(p.ends_line);
    t.effects.push_back(p.effect);
}

void check_told(const uint8_t* data, size_t size, const std::vector<std::string>& pieces, State start, State want)
{
    Told told;
    SettingsTrace trace = {tell, &told};
    Margins m = {start.lead, start.trail};
    settings_apply((const char*)data, size, &start.source_id, &start.instance, &m, &trace);
    FUZZ_CHECK(start.source_id == want.source_id && start.instance == want.instance);
    FUZZ_CHECK(told.pieces == pieces);
    bool mapped = false;
    for (size_t i = 0; i < pieces.size(); i++) {
        bool last = i + 1 == pieces.size();
        FUZZ_CHECK(told.ends[i] == (pieces[i].back() == '\n' || last));
        FUZZ_CHECK((told.effects[i] == SettingsPiece::NOT_READ) == mapped);
        mapped = mapped || told.effects[i] == SettingsPiece::MAPPED;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const State starts[] = {{0x400, 3, 0, 0}, {0, 0, 0, 0}, {-1, -5, 0, 0}, {0x12345678, INT32_MIN, 0, 0}};
    std::vector<std::string> pieces = pieces_of(data, size);
    bool has_i = false;
    for (const std::string& p : pieces)
        has_i = has_i || p[0] == 'I';
    for (const State& start : starts) {
        State got = start;
        Margins m = {start.lead, start.trail};
        settings_apply((const char*)data, size, &got.source_id, &got.instance, &m);

        FUZZ_CHECK(m.lead >= 0 && m.lead <= 30 && m.trail >= 0 && m.trail <= 30);
        if (!has_i)
            FUZZ_CHECK(got.instance == start.instance);
        else if (got.instance != start.instance)
            FUZZ_CHECK(got.instance >= 0);
        if (start.source_id <= 0)
            FUZZ_CHECK(got.source_id == start.source_id);

        State want = model(pieces, start);
        FUZZ_CHECK(got.source_id == want.source_id);
        FUZZ_CHECK(got.instance == want.instance);
        FUZZ_CHECK(m.lead == want.lead && m.trail == want.trail);
        check_told(data, size, pieces, start, want);
    }
    return 0;
}
