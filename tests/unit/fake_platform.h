// A substitute platform for the unit tests: a clock that moves only when the
// run pauses (by what it asked for, or longer), scripted command statuses, a set of existing names, and a log
// of everything the run did, in order.
#pragma once

#include "platform/hooks.h"

#include <deque>
#include <set>
#include <string>
#include <vector>

struct FakePlatform {
    std::string program_dir = "/fake/";
    bool program_dir_ok = true;
    long long clock_ms = 0;            // local time, milliseconds since midnight
    std::deque<int> statuses;          // next command statuses; then taskkill 128, others 0
    std::set<std::string> existing;    // names the file status query reports
    std::vector<std::string> events;   // "out:<text>", "err:<text>", "sleep:<ms>", "run:<cmd>"
    std::string out;                   // all of standard output
    std::vector<unsigned> sleeps;
    size_t max_sleeps = 200000;        // a broken wait loop aborts instead of hanging
    unsigned oversleep_ms = 0;         // each pause takes this much longer than asked
};

extern FakePlatform fake;

/// Resets the fake and returns hooks that use it.
const Hooks& fake_hooks();
void fake_reset();

/// Sets the fake clock to h:m:s.
void fake_set_clock(int h, int m, int s);

/// The fake's file status query, for stages that take one directly.
bool fake_hooks_exists(const char* path);
