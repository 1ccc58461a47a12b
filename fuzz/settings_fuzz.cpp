// The settings reader. The whole input is the settings file's bytes, applied
// to a few starting records as a run would have them.
//
// Properties: margins always end within 0 to 30; an instance number never
// ends negative once an 'I' line acted, and never changes without one; a
// source id of 0 or below is never mapped; and the result equals that of a
// plain model that cuts the file into pieces with std::string (a leading
// UTF-8 byte order mark skipped, a UTF-16 one read as its characters in
// UTF-8, carriage returns dropped, Ctrl-Z ends the file, at most 14 bytes up
// to and including a line feed) and applies them one by one, up to the
// mapping that matches. Its record holds a piece for each one the model
// finds beginning with I, M or @ up to that mapping, and the model's count
// of lines read. A UTF-16 file of an odd length fails when the reader needs
// its last byte: when no mapping matched before.
#include "base/numbers.h"
#include "base/text.h"
#include "settings/settings.h"

#include "check.h"

#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

void put_utf8(std::string* out, uint32_t c)
{
    if (c < 0x80) {
        out->push_back((char)c);
        return;
    }
    int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    out->push_back((char)(lead[n] | c >> (6 * (n - 1))));
    for (int i = n - 2; i >= 0; i--)
        out->push_back((char)(0x80 | (c >> (6 * i) & 0x3F)));
}

// The text of the file: its bytes, or its UTF-16 characters of either order
// after their byte order mark, in UTF-8 (U+FFFD for half a pair alone).
std::string characters(const uint8_t* data, size_t size, bool* utf16)
{
    std::string chars;
    bool le = size >= 2 && data[0] == 0xFF && data[1] == 0xFE, be = size >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    *utf16 = le || be;
    if (!le && !be) {
        size_t start = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0;
        return std::string((const char*)data + start, size - start);
    }
    std::vector<uint32_t> units;
    for (size_t i = 2; i + 1 < size; i += 2)
        units.push_back(le ? data[i] | data[i + 1] << 8 : data[i] << 8 | data[i + 1]);
    for (size_t i = 0; i < units.size(); i++) {
        uint32_t u = units[i];
        bool high = u >= 0xD800 && u <= 0xDBFF, pair = high && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                                                      units[i + 1] <= 0xDFFF;
        if (pair)
            put_utf8(&chars, 0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00));
        else
            put_utf8(&chars, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
    return chars;
}

// The pieces of the file; *cut_short: a UTF-16 file of an odd length whose
// text no Ctrl-Z ends first.
std::vector<std::string> pieces_of(const uint8_t* data, size_t size, bool* cut_short)
{
    std::string text;
    bool utf16 = false, stopped = false;
    for (char c : characters(data, size, &utf16)) {
        if (c == 26) {
            stopped = true;
            break;
        }
        if (c != '\r')
            text.push_back(c);
    }
    *cut_short = utf16 && size % 2 == 1 && !stopped;
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

// The result of applying the pieces, and in *matched the number of the
// piece whose mapping matched (0: none).
State model(const std::vector<std::string>& pieces, State s, size_t* matched)
{
    *matched = 0;
    for (size_t i = 0; i < pieces.size(); i++) {
        const char* t = pieces[i].c_str(); // a NUL byte ends the piece's text
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
            *matched = i + 1;
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
        acts += acting;
        if (maps) {
            lines++; // the mapping's line is the last read
            break;
        }
        lines += p.back() == '\n' || i + 1 == pieces.size();
    }
    FUZZ_CHECK(r.acts == acts && r.lines == lines);
}

// The file in memory, served through the platform table.
const uint8_t* file_data;
size_t file_size, file_at;

int open_file(const char*, char*, size_t)
{
    file_at = 0;
    return 3;
}

long read_file(int, char* buf, size_t cap, char*, size_t)
{
    size_t n = file_size - file_at < cap ? file_size - file_at : cap;
    memcpy(buf, file_data + file_at, n);
    file_at += n;
    return (long)n;
}

void close_file(int) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const State starts[] = {{0x400, 3, 0, 0}, {0, 0, 0, 0}, {-1, -5, 0, 0}, {0x12345678, INT32_MIN, 0, 0}};
    bool cut_short = false;
    std::vector<std::string> pieces = pieces_of(data, size, &cut_short);
    Platform os = platform_os;
    os.open_regular = open_file;
    os.read = read_file;
    os.close = close_file;
    os.encode_char = text_utf8;
    file_data = data;
    file_size = size;
    bool has_i = false;
    for (const std::string& p : pieces)
        has_i = has_i || p[0] == 'I';
    for (const State& start : starts) {
        State got = start;
        Margins m = {start.lead, start.trail};
        SettingsRecord record;
        char why[REASON_CAP];
        SettingsRead read = settings_read("settings", os, &got.source_id, &got.instance, &m, &record, why, sizeof why);
        size_t matched = 0;
        State want = model(pieces, start, &matched);
        // A UTF-16 file cut short fails unless a mapping matched in a piece
        // that ended without needing its last byte: at a line feed, or full.
        bool last_open = matched > 0 && matched == pieces.size() && pieces.back().back() != '\n' && pieces.back().size() < 14;
        FUZZ_CHECK((read == SETTINGS_READ_FAILED) == (cut_short && (matched == 0 || last_open)));
        if (read == SETTINGS_READ_FAILED)
            continue;

        FUZZ_CHECK(m.lead >= 0 && m.lead <= 30 && m.trail >= 0 && m.trail <= 30);
        if (!has_i)
            FUZZ_CHECK(got.instance == start.instance);
        else if (got.instance != start.instance)
            FUZZ_CHECK(got.instance >= 0);
        if (start.source_id <= 0)
            FUZZ_CHECK(got.source_id == start.source_id);

        FUZZ_CHECK(got.source_id == want.source_id);
        FUZZ_CHECK(got.instance == want.instance);
        FUZZ_CHECK(m.lead == want.lead && m.trail == want.trail);
        check_record(record, pieces, start.source_id);
    }
    return 0;
}
