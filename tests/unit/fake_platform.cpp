#include "fake_platform.h"

#include "base/text.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

FakePlatform fake;

namespace {

bool program_dir(char* out, size_t cap)
{
    if (!fake.program_dir_ok || fake.program_dir.size() >= cap)
        return false;
    memcpy(out, fake.program_dir.c_str(), fake.program_dir.size() + 1);
    return true;
}

// The open file: its text and how far it was read.
const std::string* open_text = nullptr;
size_t open_at = 0;

int open_regular(const char* path, char* why, size_t why_cap)
{
    auto f = fake.files.find(path);
    if (f == fake.files.end()) {
        snprintf(why, why_cap, "No such file or directory");
        return -1;
    }
    open_text = &f->second;
    open_at = 0;
    return 3;
}

long read_file(int, char* buf, size_t cap, char* why, size_t why_cap)
{
    if (open_at >= fake.read_fails_after) {
        snprintf(why, why_cap, "Input/output error");
        return -1;
    }
    size_t n = open_text->size() - open_at < cap ? open_text->size() - open_at : cap;
    n = n < fake.read_fails_after - open_at ? n : fake.read_fails_after - open_at; // a first chunk, then the failure
    memcpy(buf, open_text->data() + open_at, n);
    open_at += n;
    return (long)n;
}

void close_file(int)
{
    open_text = nullptr;
}

FileStatus file_status(const char* path, char* why, size_t why_cap)
{
    if (++fake.queries > fake.max_queries) {
        fprintf(stderr, "fake platform: more than %zu file status queries; the name loop never ends\n",
                fake.max_queries);
        abort();
    }
    if (fake.unknown.count(path)) {
        snprintf(why, why_cap, "Input/output error");
        return ENTRY_UNKNOWN;
    }
    return fake.existing.count(path) ? ENTRY_PRESENT : ENTRY_ABSENT;
}

bool can_run(const char*, char* why, size_t why_cap)
{
    snprintf(why, why_cap, "%s", fake.cannot_run.c_str());
    return fake.cannot_run.empty();
}

bool can_create_in(const char* dir, char* why, size_t why_cap)
{
    fake.dir_asked = dir;
    snprintf(why, why_cap, "%s", fake.cannot_create.c_str());
    return fake.cannot_create.empty();
}

int64_t clock_now()
{
    return fake.clock_ms >= 0 ? fake.clock_ms / 1000 : -((999 - fake.clock_ms) / 1000);
}

bool local_time(int64_t t, LocalTime* out)
{
    long long s = (t % 86400 + 86400) % 86400;
    *out = LocalTime{(int)(s / 3600), (int)(s / 60 % 60), (int)(s % 60), (int)((t - s) / 86400 + 1), fake.utc_offset, {}, t};
    snprintf(out->zone, sizeof out->zone, "%s", fake.zone.c_str());
    return true;
}

bool zone_problem(char* why, size_t why_cap)
{
    snprintf(why, why_cap, "%s", fake.zone_problem.c_str());
    return !fake.zone_problem.empty();
}

void sleep_ms(unsigned ms)
{
    fake.sleeps.push_back(ms);
    fake.events.push_back("sleep:" + std::to_string(ms));
    fake.clock_ms += ms + fake.oversleep_ms;
    if (fake.sleeps.size() == fake.jump_after)
        fake.clock_ms += fake.jump_ms;
    if (fake.sleeps.size() > fake.max_sleeps) {
        fprintf(stderr, "fake platform: more than %zu pauses; the wait never ends\n", fake.max_sleeps);
        abort();
    }
}

ImageState image_state(const char* image, char* why, size_t why_cap)
{
    snprintf(why, why_cap, "%s", fake.scan_failures ? "Too many open files" : "Operation not permitted");
    if (fake.scan_failures > 0) {
        fake.scan_failures--;
        return IMAGE_UNKNOWN;
    }
    if (fake.not_endable.count(image))
        return IMAGE_NOT_ENDABLE;
    return fake.running.count(image) ? IMAGE_RUNNING : IMAGE_NOT_RUNNING;
}

StopResult end_image(const char* image, int* ended, char* why, size_t why_cap)
{
    fake.events.push_back(std::string("end:") + image);
    *ended = 0;
    ImageState state = image_state(image, why, why_cap);
    if (state == IMAGE_RUNNING) {
        if (fake.restarts > 0)
            fake.restarts--; // ended, and started again at once
        else
            fake.running.erase(image);
        *ended = 1;
    }
    return state == IMAGE_UNKNOWN       ? STOP_CANNOT_TELL
           : state == IMAGE_NOT_ENDABLE ? STOP_NOT_ALL_ENDED
           : *ended                     ? STOP_ENDED
                                        : STOP_NONE;
}

int run_command(const Platform&, const char* text)
{
    fake.events.push_back(std::string("run:") + text);
    if (fake.statuses.empty())
        return 0;
    int s = fake.statuses.front();
    fake.statuses.pop_front();
    return s;
}

Reservation reserve_name(const char* name, char* why, size_t why_cap)
{
    fake.events.push_back(std::string("reserve:") + name);
    if (fake.reservation_failures > 0) {
        fake.reservation_failures--;
        snprintf(why, why_cap, "Too many open files");
        return RESERVATION_UNAVAILABLE;
    }
    return fake.reserved.count(name) ? RESERVATION_TAKEN : RESERVED;
}

void release_name()
{
    fake.events.push_back("release");
}

void write_out(const char* text, size_t len)
{
    fake.out.append(text, len);
    fake.events.push_back("out:" + std::string(text, len));
}

void write_err(const char* text, size_t len)
{
    fake.events.push_back("err:" + std::string(text, len));
}

bool never_lead(unsigned char)
{
    return false;
}

bool cp932_lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool linux_can_store(const char*, char*, size_t)
{
    return true;
}

StoredName linux_argument(int, const char* const* argv, int pos, char* out, size_t out_cap, char*, size_t)
{
    snprintf(out, out_cap, "%s", argv[pos]);
    return STORED_AS_GIVEN;
}

OutputDir linux_output_dir(const char* name, char* dir)
{
    const char* slash = strrchr(name, '/');
    size_t len = slash ? (size_t)(slash - name) + 1 : 0;
    memcpy(dir, name, len);
    dir[len] = '\0';
    return slash ? DIR_NAMED : DIR_CURRENT;
}

// Windows' rules for names, in code page 932 (which has no superscript digits).
bool windows_can_store(const char* name, char* why, size_t why_cap)
{
    const char* problem = text_windows_name_problem(name, strlen(name), cp932_lead, "");
    snprintf(why, why_cap, "%s", problem ? problem : "");
    return problem == nullptr;
}

// The file argument as Windows stores it: "~" stands for a character the
// code page lacks whose look-alike "-" takes its place.
StoredName windows_argument(int, const char* const* argv, int pos, char* out, size_t out_cap, char* why,
                            size_t why_cap)
{
    std::string name = argv[pos];
    for (char& c : name)
        c = c == '~' ? '-' : c;
    snprintf(out, out_cap, "%s", name.c_str());
    if (!windows_can_store(out, why, why_cap))
        return NOT_STORABLE;
    if (name == argv[pos])
        return STORED_AS_GIVEN;
    snprintf(why, why_cap, "look-alikes take the place of characters code page 932 lacks");
    return STORED_WITH_LOOK_ALIKES;
}

OutputDir windows_output_dir(const char* name, char* dir)
{
    const char* sep = text_last_of(name, "\\/", cp932_lead);
    bool drive = !sep && name[0] && name[1] == ':';
    size_t len = sep ? (size_t)(sep - name) + 1 : drive ? 2 : 0;
    memcpy(dir, name, len);
    dir[len] = '\0';
    return sep ? DIR_NAMED : drive ? DIR_DRIVE_CURRENT : DIR_CURRENT;
}

Platform table = {
    program_dir,       // program_dir
    "/",               // path_separators
    never_lead,        // is_lead_byte
    linux_argument,    // file_argument
    linux_can_store,   // can_store
    linux_output_dir,  // output_dir
    text_utf8,         // encode_char
    open_regular,      // open_regular
    read_file,         // read
    close_file,        // close
    file_status,       // file_status
    can_run,           // can_run
    can_create_in,     // can_create_in
    clock_now,         // clock_now
    local_time,        // local_time
    zone_problem,      // zone_problem
    sleep_ms,          // sleep_ms
    image_state,       // image_state
    end_image,         // end_image
    run_command,       // run_command
    reserve_name,      // reserve_name
    release_name,      // release_name
    write_out,         // write_out
    write_out,         // write_progress
    write_err,         // write_err
};

} // namespace

const Platform& fake_platform()
{
    fake = FakePlatform();
    fake.files[fake.program_dir + "quellatorbin.ini"] = "";
    table.is_lead_byte = never_lead;
    table.path_separators = "/";
    table.file_argument = linux_argument;
    table.can_store = linux_can_store;
    table.output_dir = linux_output_dir;
    return table;
}

const Platform& fake_windows_platform()
{
    fake_platform();
    table.is_lead_byte = cp932_lead;
    table.path_separators = "\\/";
    table.file_argument = windows_argument;
    table.can_store = windows_can_store;
    table.output_dir = windows_output_dir;
    return table;
}

void fake_set_clock(int h, int m, int s)
{
    fake.clock_ms = ((long long)h * 3600 + m * 60 + s) * 1000;
}

// UTF-16 of either order after its byte order mark, from UTF-8 text.
std::string fake_utf16(const std::string& text, bool little_endian)
{
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (size_t i = 0; i < text.size();) {
        unsigned char b = (unsigned char)text[i];
        size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = n == 1 ? b : b & (0x3F >> (n - 1));
        for (size_t k = 1; k < n; k++)
            c = c << 6 | ((unsigned char)text[i + k] & 0x3F);
        i += n;
        uint32_t units[2] = {c, 0};
        size_t count = 1;
        if (c >= 0x10000) {
            units[0] = 0xD800 + ((c - 0x10000) >> 10);
            units[1] = 0xDC00 + ((c - 0x10000) & 0x3FF);
            count = 2;
        }
        for (size_t k = 0; k < count; k++) {
            char lo = (char)(units[k] & 0xFF), hi = (char)(units[k] >> 8);
            out += little_endian ? std::string{lo, hi} : std::string{hi, lo};
        }
    }
    return out;
}
