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

int64_t clock_now()
{
    return fake.clock_ms >= 0 ? fake.clock_ms / 1000 : -((999 - fake.clock_ms) / 1000);
}

void local_time(int64_t t, LocalTime* out)
{
    long long s = (t % 86400 + 86400) % 86400;
    *out = LocalTime{(int)(s / 3600), (int)(s / 60 % 60), (int)(s % 60), (int)((t - s) / 86400 + 1), 0, "UTC"};
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

int run_command(const char* text)
{
    fake.events.push_back(std::string("run:") + text);
    if (!fake.statuses.empty()) {
        int s = fake.statuses.front();
        fake.statuses.pop_front();
        return s;
    }
    return strncmp(text, "taskkill", 8) == 0 ? 128 : 0;
}

bool file_exists(const char* path)
{
    return fake.existing.count(path) != 0;
}

Reservation reserve_name(const char* name)
{
    fake.events.push_back(std::string("reserve:") + name);
    if (fake.reservations_unavailable)
        return RESERVATION_UNAVAILABLE;
    return fake.reserved.count(name) ? RESERVATION_TAKEN : RESERVED;
}

void release_name()
{
    fake.events.push_back("release");
}

ImageState image_state(const char* image, char* why, size_t why_cap)
{
    snprintf(why, why_cap, "%s", fake.scan_fails ? "Too many open files" : "Operation not permitted");
    if (fake.scan_fails)
        return IMAGE_UNKNOWN;
    if (fake.not_endable.count(image))
        return IMAGE_NOT_ENDABLE;
    return fake.running.count(image) ? IMAGE_RUNNING : IMAGE_NOT_RUNNING;
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

bool linux_names(const char*, char*, size_t)
{
    return false;
}

// Windows' rules for names, in code page 932 (which has no superscript digits).
bool windows_names(const char* name, char* why, size_t why_cap)
{
    const char* problem = text_windows_name_problem(name, strlen(name), cp932_lead, "");
    snprintf(why, why_cap, "%s", problem ? problem : "");
    return problem != nullptr;
}

Hooks hooks = {program_dir, clock_now, local_time, sleep_ms, run_command, file_exists,      reserve_name,
               release_name, image_state, write_out, write_out, write_err, never_lead, "/", linux_names};

} // namespace

const Hooks& fake_hooks()
{
    fake = FakePlatform();
    hooks.is_lead_byte = never_lead;
    hooks.path_separators = "/";
    hooks.name_problem = linux_names;
    return hooks;
}

const Hooks& fake_windows_hooks()
{
    fake_hooks();
    hooks.is_lead_byte = cp932_lead;
    hooks.path_separators = "\\/";
    hooks.name_problem = windows_names;
    return hooks;
}

void fake_set_clock(int h, int m, int s)
{
    fake.clock_ms = ((long long)h * 3600 + m * 60 + s) * 1000;
}
