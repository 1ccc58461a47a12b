// A substitute platform for the unit tests: a clock that moves only when the
// run pauses (by what it asked for, or longer, or with a jump), settings
// files in memory, scripted command statuses, sets of existing names,
// reserved names and running images, and a log of everything the run did,
// in order.
#pragma once

#include "platform/platform.h"

#include <stdint.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FakePlatform {
    std::string program_dir = "/fake/";
    bool program_dir_ok = true;
    std::map<std::string, std::string> files; // settings files, by path
    size_t read_fails_after = SIZE_MAX; // reading a file fails (EIO) after so many bytes
    long long clock_ms = 0;            // local time (UTC), milliseconds since midnight of the 1st
    std::deque<int> statuses;          // next command statuses; then 0
    std::set<std::string> existing;    // names the file status query reports
    std::set<std::string> unknown;     // names whose status cannot be told (EIO)
    std::set<std::string> reserved;    // names another run holds
    int reservation_failures = 0;      // so many reservations fail (EMFILE) first
    size_t max_queries = 100000;       // a broken name loop aborts instead of hanging
    std::set<std::string> running;     // image names of running processes...
    std::set<std::string> not_endable; // ...of them, those this user may not end
    int restarts = 0;                  // so many times an ended image is started again at once
    int scan_failures = 0;             // so many reads of the process table fail (EMFILE) first
    std::string zone = "UTC";          // the local time's zone...
    int utc_offset = 0;                // ...and its offset east of UTC, in seconds
    std::string zone_problem;          // why the time zone is not the one asked for ("": none)
    std::string cannot_run;            // why the capture program cannot be started ("": it can)
    std::string cannot_create;         // why no file can be made in a directory ("": one can)
    std::string dir_asked;             // the directory can_create_in was asked about last
    std::vector<std::string> events;   // "out:<text>", "err:<text>", "sleep:<ms>", "run:<cmd>",
                                       // "end:<image>", "reserve:<name>", "release"
    size_t queries = 0;                // file status queries made
    std::string out;                   // all of standard output
    std::vector<unsigned> sleeps;
    size_t max_sleeps = 200000;        // a broken wait loop aborts instead of hanging
    unsigned oversleep_ms = 0;         // each pause takes this much longer than asked
    size_t jump_after = 0;             // after this pause (1 = the first) the clock also moves
    long long jump_ms = 0;             // by this much (negative: backwards)
};

extern FakePlatform fake;

/// Resets the fake and returns a table that uses it, with the path rules of
/// Linux ('/' separates, no double-byte characters)...
const Platform& fake_platform();
/// ...or of Windows in code page 932 ('\' and '/' separate; 81-9F and E0-FC
/// are the first bytes of double-byte characters).
const Platform& fake_windows_platform();

/// Sets the fake clock to h:m:s.
void fake_set_clock(int h, int m, int s);

/// The text (UTF-8) in UTF-16 of either order, after its byte order mark,
/// as a settings file saved so holds it.
std::string fake_utf16(const std::string& text, bool little_endian);
