#include "fake_platform.h"

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

void local_now(LocalTime* now)
{
    long long s = (fake.clock_ms / 1000) % 86400;
    now->hour = (int)(s / 3600);
    now->minute = (int)(s / 60 % 60);
    now->second = (int)(s % 60);
}

void sleep_ms(unsigned ms)
{
    fake.sleeps.push_back(ms);
    fake.events.push_back("sleep:" + std::to_string(ms));
    fake.clock_ms += ms + fake.oversleep_ms;
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

void write_out(const char* text, size_t len)
{
    fake.out.append(text, len);
    fake.events.push_back("out:" + std::string(text, len));
}

void write_err(const char* text, size_t len)
{
    fake.events.push_back("err:" + std::string(text, len));
}

const Hooks hooks = {program_dir, local_now, sleep_ms, run_command, file_exists, write_out, write_err};

} // namespace

void fake_reset()
{
    fake = FakePlatform();
}

const Hooks& fake_hooks()
{
    fake_reset();
    return hooks;
}

void fake_set_clock(int h, int m, int s)
{
    fake.clock_ms = ((long long)h * 3600 + m * 60 + s) * 1000;
}

bool fake_hooks_exists(const char* path)
{
    return file_exists(path);
}
