// The settings reader. The whole input is the settings file's bytes, applied
// to a few starting records as a run would have them.
//
// Properties: margins always end within 0 to 30; an instance number never
// ends negative once an 'I' line acted, and never changes without one; a
// source id of 0 or below is never mapped; and the result equals that of a
// plain model that cuts the file into pieces with std::string (a leading
// UTF-8 byte order mark skipped, a UTF-16 one read as its characters,
// carriage returns dropped, Ctrl-Z ends the file, at most 14 characters up
// to and including a line feed) and applies them one by one. Its record
// holds a piece for each one the model finds beginning with I, M or @ up to
// the mapping that matched, that mapping last, and the model's count of
// lines.
#include "base/numbers.h"
#include "settings/settings.h"

#include "check.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace {

// The characters of the file: bytes, or UTF-16 characters of either order
// after their byte order mark ('?' for each that is no ASCII character).
std::string characters(const uint8_t* data, size_t size)
{
    std::string chars;
    bool le = size >= 2 && data[0] == 0xFF && data[1] == 0xFE, be = size >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    if (!le && !be) {
        size_t start = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0;
        return std::string((const char*)data + start, size - start);
    }
    for (size_t i = 2; i + 1 < size; i += 2) {
        unsigned unit = le ? data[i] | data[i + 1] << 8 : data[i] << 8 | data[i + 1];
        if (unit < 0xDC00 || unit > 0xDFFF)
            chars.push_back(unit < 0x80 ? (char)unit : '?');
    }
    return chars;
}

std::vector<std::string> pieces_of(const uint8_t* data, size_t size)
{
    std::string text;
    for (char c : characters(data, size)) {
        if (c == 26)
            break;
        if (c != '\r')
            text.push_back(c);
    }
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

// The record: one act for each piece beginning with I, M or @ up to the
// mapping that matched, and the lines of the file.
void check_record(const SettingsRecord& r, const std::vector<std::string>& pieces, int32_t source_id)
{
    int acts = 0, lines = 0;
    bool mapped = false;
    for (size_t i = 0; i < pieces.size(); i++) {
        const std::string& p = pieces[i];
        bool acting = !mapped && (p[0] == 'I' || p[0] == 'M' || p[0] == '@');
        int32_t from = 0, to = 0;
        bool maps = acting && p[0] == '@' && source_id > 0 && scan_pair(p.c_str() + 1, ',', 16, &from, &to) &&
                    from == source_id;
        if (acting && (size_t)acts < SETTINGS_ACTS_KEPT) {
            const SettingsAct& a = r.act[acts];
            FUZZ_CHECK(a.line == lines + 1);
            FUZZ_CHECK(std::string(a.text, a.len) + (p.back() == '\n' ? "\n" : "") == p);
            FUZZ_CHECK((a.effect == SettingsAct::MAPPED) == maps);
        }
        FUZZ_CHECK(!maps || r.mapped_line == lines + 1);
        mapped = mapped || maps;
        acts += acting;
        lines += p.back() == '\n' || i + 1 == pieces.size();
    }
    FUZZ_CHECK(r.acts == acts && r.lines == lines);
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
        SettingsRecord record;
        settings_apply((const char*)data, size, &got.source_id, &got.instance, &m, &record);

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
        check_record(record, pieces, start.source_id);
    }
    return 0;
}
