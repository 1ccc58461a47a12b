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
    if (fake.read_fails && open_at > 0) {
        snprintf(why, why_cap, "Input/output error");
        return -1;
    }
    size_t n = open_text->size() - open_at < cap ? open_text->size() - open_at : cap;
    n = n > 4 && fake.read_fails ? 4 : n; // a first chunk, then the failure
    memcpy(buf, open_text->data() + open_at, n);
    open_at += n;
    return (long)n;
}

void close_file(int)
{
    open_text = nullptr;
}

bool file_exists(const char* path, char* why, size_t why_cap)
{
    why[0] = '\0';
    if (fake.unknown.count(path))
        snprintf(why, why_cap, "Input/output error");
    return fake.existing.count(path) != 0;
}

bool can_run(const char*, char* why, size_t why_cap)
{
    snprintf(why, why_cap, "%s", fake.cannot_run.c_str());
    return fake.cannot_run.empty();
}

bool can_create_in(const char*, char* why, size_t why_cap)
{
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
        fake.running.erase(image);
        *ended = 1;
    }
    return state == IMAGE_UNKNOWN       ? STOP_CANNOT_TELL
           : state == IMAGE_NOT_ENDABLE ? STOP_NOT_ALL_ENDED
           : *ended                     ? STOP_ENDED
                                        : STOP_NONE;
}

int run_command(const char* text)
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
    why[0] = '\0';
    if (fake.reservation_failures > 0) {
        fake.reservation_failures--;
        snprintf(why, why_cap, "Too many open files");
        return RESERVATION_UNAVAILABLE;
    }
    if (fake.reservations_unavailable)
        return RESERVATION_UNAVAILABLE;
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

bool linux_names(const char* name, char* out, size_t out_cap, char* why, size_t)
{
    why[0] = '\0';
    snprintf(out, out_cap, "%s", name);
    return true;
}

// Windows' rules for names, in code page 932 (which has no superscript digits).
bool windows_names(const char* name, char* out, size_t out_cap, char* why, size_t why_cap)
{
    const char* problem = text_windows_name_problem(name, strlen(name), cp932_lead, "");
    snprintf(why, why_cap, "%s", problem ? problem : "");
    snprintf(out, out_cap, "%s", name);
    return problem == nullptr;
}

Platform table = {
    program_dir,  // program_dir
    "/",          // path_separators
    never_lead,   // is_lead_byte
    linux_names,  // store_name
    open_regular, // open_regular
    read_file,    // read
    close_file,   // close
    file_exists,  // file_exists
    can_run,      // can_run
    can_create_in, // can_create_in
    clock_now,    // clock_now
    local_time,   // local_time
    zone_problem, // zone_problem
    sleep_ms,     // sleep_ms
    image_state,  // image_state
    end_image,    // end_image
    run_command,  // run_command
    reserve_name, // reserve_name
    release_name, // release_name
    write_out,    // write_out
    write_out,    // write_progress
    write_err,    // write_err
};

} // namespace

const Platform& fake_platform()
{
    fake = FakePlatform();
    fake.files[fake.program_dir + "quellatorbin.ini"] = "";
    table.is_lead_byte = never_lead;
    table.path_separators = "/";
    table.store_name = linux_names;
    return table;
}

const Platform& fake_windows_platform()
{
    fake_platform();
    table.is_lead_byte = cp932_lead;
    table.path_separators = "\\/";
    table.store_name = windows_names;
    return table;
}

void fake_set_clock(int h, int m, int s)
{
    fake.clock_ms = ((long long)h * 3600 + m * 60 + s) * 1000;
}
