// Output naming. Input: a flags byte (bit 0: the fixed-name switch), a count
// k, then lines: the first is the file argument, the others are names the
// substitute file status query reports as existing, as are the file argument
// itself and its first k - 1 numbered names when k > 0.
//
// Properties: the output name is NUL-terminated within its 512 bytes; with
// the switch it is the file argument; without it, it is never a name the
// query reports, and it is the first free one of the file argument and
// "<stem>(1).<ext>", "<stem>(2).<ext>", ... ("<name>(1)", ... when the last
// '.' stands before the last '/'; a plain std::string model), refused
// exactly when that one or one before it does not fit; at most one
// reservation is tried per candidate, and only for names the query does not
// report. The capture
// command line built from it, split as the capture program's C runtime splits
// it, hands the capture program exactly that name.
#include "base/limits.h"
#include "capture/capture.h"
#include "platform/cmdline.h"

#include "check.h"

#include <stdint.h>
#include <string.h>
#include <set>
#include <string>

namespace {

const size_t GUARD = 16;
std::set<std::string> existing;
size_t queries;

std::set<std::string> reserved;
size_t reservations;

FileStatus status(const char* path, char*, size_t)
{
    queries++;
    return existing.count(path) ? ENTRY_PRESENT : ENTRY_ABSENT;
}

Reservation reserve(const char* path, char*, size_t)
{
    reservations++;
    FUZZ_CHECK(existing.count(path) == 0);
    return reserved.count(path) ? RESERVATION_TAKEN : RESERVED;
}

void release() {}

bool storable(const char*, char*, size_t)
{
    return true;
}

std::string numbered(const std::string& file, size_t dot, long n)
{
    size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > dot)
        return file + "(" + std::to_string(n) + ")";
    return file.substr(0, dot) + "(" + std::to_string(n) + ")." + file.substr(dot + 1);
}

// The name the launcher must choose, or "" when none fits.
std::string model(const std::string& file, bool fixed)
{
    size_t dot = file.rfind('.');
    if (dot == std::string::npos || file.size() >= OUTPUT_NAME_CAP)
        return "";
    if (fixed)
        return file;
    std::string name = file;
    for (long n = 1; existing.count(name) || reserved.count(name); n++) {
        name = numbered(file, dot, n);
        if (name.size() >= OUTPUT_NAME_CAP)
            return "";
    }
    return name;
}

// The launcher refuses a file argument that holds '"' or ends in '\'; any
// other name must reach the capture program unchanged.
void check_command_line(const std::string& file, const char* name)
{
    if (file.find('"') != std::string::npos || file.back() == '\\')
        return;
    char cmd[COMMAND_TEXT_CAP];
    capture_command_line("/opt/tv/", "zarnivek2.exe", name, 0x3FF, "21:00:00-21:30:00", cmd);
    static char store[2048];
    static char* words[16];
    int n = cmdline_split(cmd, store, sizeof store, words, 16);
    FUZZ_CHECK(n == 4);
    FUZZ_CHECK(strcmp(words[0], "/opt/tv/zarnivek2.exe") == 0);
    FUZZ_CHECK(strcmp(words[1], name) == 0);
    FUZZ_CHECK(strcmp(words[2], "@3FF") == 0);
    FUZZ_CHECK(strcmp(words[3], "21:00:00-21:30:00") == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    bool fixed = data[0] & 1;
    unsigned k = data[1];
    std::string text((const char*)data + 2, size - 2);
    std::string file = text.substr(0, text.find('\n'));
    file = file.c_str(); // an argument ends at its first NUL byte
    if (file.empty())
        return 0;
    // Names that exist, and (those after a line "*") names other runs hold.
    existing.clear();
    reserved.clear();
    std::set<std::string>* taken = &existing;
    for (size_t at = text.find('\n'); at != std::string::npos;) {
        size_t next = text.find('\n', at + 1);
        std::string name = text.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        if (name == "*")
            taken = &reserved;
        else
            taken->insert(name);
        at = next;
    }
    size_t dot = file.rfind('.');
    if (k > 0 && dot != std::string::npos) {
        existing.insert(file);
        for (unsigned n = 1; n < k; n++)
            existing.insert(numbered(file, dot, n));
    }

    char out[OUTPUT_NAME_CAP + GUARD];
    memset(out, 0x5A, sizeof out);
    queries = reservations = 0;
    Platform os = platform_os;
    os.file_status = status;
    os.reserve_name = reserve;
    os.release_name = release;
    os.can_store = storable;
    NamesPassed passed;
    char why[REASON_CAP];
    bool ok = capture_pick_output_name(file.c_str(), fixed, os, out, OUTPUT_NAME_CAP, &passed, why, sizeof why) ==
              NAME_PICKED;
    FUZZ_CHECK(memchr(out, '\0', OUTPUT_NAME_CAP) != nullptr);
    for (size_t i = OUTPUT_NAME_CAP; i < sizeof out; i++)
        FUZZ_CHECK(out[i] == 0x5A);
    FUZZ_CHECK(queries <= existing.size() + reserved.size() + 2);
    FUZZ_CHECK(reservations <= reserved.size() + 1);

    std::string want = model(file, fixed);
    FUZZ_CHECK(ok == !want.empty());
    if (!ok)
        return 0;
    FUZZ_CHECK(want == out);
    if (fixed)
        FUZZ_CHECK(file == out);
    else
        FUZZ_CHECK(existing.count(out) == 0 && reserved.count(out) == 0);
    check_command_line(file, out);
    return 0;
}
