// The check mode: its hooks, and the report it writes from what the run
// sequence tells it. Every line of the report is one finding; a line that
// begins "problem: " names something that would keep the recording from
// being made, though a run would not refuse.
#include "launcher/check.h"

#include "base/limits.h"
#include "base/text.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

namespace {

const size_t NAME_REASONS_CAP = 400;

struct CheckState {
    const Hooks* base;
    int64_t start;     // base's clock when the check began
    int64_t paused_ms; // the pauses the run asked for, added up
    unsigned problems;
    bool stop;         // the run is a stop request

    // The settings file, told piece by piece.
    int line;                      // the line of the next piece (1 = the first)
    int pieces;                    // pieces of that line so far
    size_t chars;                  // its characters so far
    bool shown;                    // a piece of it was written
    bool unread;                   // a piece of it came after the mapping that matched
    int remarks_from, remarks_to;  // lines of remarks not written yet (0: none)
    int mapped_line;               // the line of the mapping that matched (0: none)
    bool rest_unread;              // characters of that line after the mapping
    int unread_from, unread_to;    // whole lines after it (0: none)
    SettingsTrace settings;

    // Output names passed over, and why: as many as fit, and a count of the rest.
    char reasons[NAME_REASONS_CAP];
    size_t reasons_len;
    unsigned more_reasons;
    NameTrace names;
} state;

const Hooks& base()
{
    return *state.base;
}

// --- The check's hooks

int64_t clock_now()
{
    return state.start + state.paused_ms / 1000;
}

void sleep_ms(unsigned ms)
{
    state.paused_ms += ms;
}

// Nothing is started: every command gives what the stop command gives when
// nothing of the name runs.
int run_command(const char*)
{
    return CAPTURE_NONE_RUNS;
}

Reservation reserve_name(const char* name)
{
    Reservation r = base().reserve_name(name);
    if (r == RESERVED)
        base().release_name();
    return r;
}

void release_name() {}

void no_progress(const char*, size_t) {}

// --- The settings file

// The piece's text in double quotation marks, '"' and '\' escaped with '\',
// control bytes as \xNN.
void quote(const char* text, size_t len)
{
    char shown[4 * SETTINGS_PIECE_CAP + 3];
    static_assert(4 * (SETTINGS_PIECE_READ - 1) + 3 <= sizeof shown, "an escaped piece always fits");
    size_t n = 0;
    shown[n++] = '"';
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c == '"' || c == '\\') {
            shown[n++] = '\\';
            shown[n++] = (char)c;
        } else if (c < ' ' || c == 0x7F)
            n += (size_t)snprintf(shown + n, sizeof shown - n, "\\x%02X", c);
        else
            shown[n++] = (char)c;
    }
    shown[n++] = '"';
    base().write_out(shown, n);
}

void write_remarks()
{
    if (state.remarks_from == state.remarks_to && state.remarks_from)
        say(base(), "line %d: remark\n", state.remarks_from);
    else if (state.remarks_from)
        say(base(), "lines %d to %d: remarks\n", state.remarks_from, state.remarks_to);
    state.remarks_from = state.remarks_to = 0;
}

// A piece that acts, or looks as if it should: with the piece's number when
// its line has several, or may have (a full piece).
void show_piece(const SettingsPiece& p)
{
    write_remarks();
    if (state.pieces > 1 || p.len >= SETTINGS_PIECE_READ - 1)
        say(base(), "line %d, piece %d: ", state.line, state.pieces);
    else
        say(base(), "line %d: ", state.line);
    quote(p.text, p.len);
    switch (p.effect) {
    case SettingsPiece::NO_NUMBER:
        say(base(), ": ignored, no number could be read\n");
        break;
    case SettingsPiece::INSTANCE:
        say(base(), ": instance number %d -> %d\n", (int)p.instance_before, (int)p.instance_after);
        break;
    case SettingsPiece::MARGINS:
        say(base(), ": margins %d s early, %d s late\n", p.margins.lead, p.margins.trail);
        break;
    case SettingsPiece::MAPPED:
        say(base(), ": source id %X -> %X, reading ends\n", (unsigned)p.source_before, (unsigned)p.source_after);
        break;
    case SettingsPiece::NOT_MAPPED:
        say(base(), ": a mapping from %X, not the source id %X\n", (unsigned)p.mapping_from,
            (unsigned)p.source_before);
        break;
    case SettingsPiece::MAPPING_SKIPPED:
        say(base(), ": a mapping, not considered: the source id is %X, not above 0\n", (unsigned)p.source_before);
        break;
    case SettingsPiece::REMARK:
    case SettingsPiece::NOT_READ:
        break;
    }
}

// A line is done: one of remarks joins the lines of remarks before it; a
// line read in pieces, of which one was written, says how it was cut.
void end_line()
{
    if (!state.shown && !state.unread) {
        if (!state.remarks_from)
            state.remarks_from = state.line;
        state.remarks_to = state.line;
    } else if (state.shown && state.pieces > 1 && state.line != state.mapped_line) {
        say(base(), "line %d has %u characters: read as %d pieces\n", state.line, (unsigned)state.chars,
            state.pieces);
    }
    state.line++;
    state.pieces = 0;
    state.chars = 0;
    state.shown = state.unread = false;
}

void settings_piece(void*, const SettingsPiece& p)
{
    state.pieces++;
    state.chars += p.len;
    if (p.effect == SettingsPiece::NOT_READ) {
        state.unread = true;
        if (state.line == state.mapped_line)
            state.rest_unread = state.rest_unread || p.len > 0;
        else if (!state.unread_from)
            state.unread_from = state.line;
        if (state.line != state.mapped_line)
            state.unread_to = state.line;
    } else if (p.effect != SettingsPiece::REMARK) {
        show_piece(p);
        state.shown = true;
        if (p.effect == SettingsPiece::MAPPED)
            state.mapped_line = state.line;
    }
    if (p.ends_line)
        end_line();
}

// The reader is done: the lines of remarks before the end, and those not
// read after a mapping that matched.
void settings_read()
{
    write_remarks();
    const Hooks& h = base();
    int m = state.mapped_line;
    if (state.rest_unread && state.unread_from)
        say(h, "the rest of line %d and %s %d", m, state.unread_to > state.unread_from ? "lines" : "line",
            state.unread_from);
    else if (state.rest_unread)
        say(h, "the rest of line %d", m);
    else if (state.unread_from)
        say(h, "%s %d", state.unread_to > state.unread_from ? "lines" : "line", state.unread_from);
    else
        return;
    if (state.unread_to > state.unread_from)
        say(h, " to %d", state.unread_to);
    say(h, " not read: the mapping on line %d matched\n", m);
}

// --- The other steps

void instance(const RunValues& v)
{
    const Hooks& h = base();
    state.stop = v.inv.stop_pos != 0;
    char image[IMAGE_NAME_CAP], why[REASON_CAP] = "";
    capture_image_name(v.suffix, image);
    switch (h.image_state(image, why, sizeof why)) {
    case IMAGE_NOT_RUNNING:
        say(h, "instance number %d: image name %s, which does not run now%s\n", (int)v.inv.instance, image,
            state.stop ? ": the stop request would end nothing" : "");
        break;
    case IMAGE_RUNNING:
        say(h, "instance number %d: image name %s, which runs now: %s\n", (int)v.inv.instance, image,
            state.stop ? "the stop request would end it" : "a run would end it at its launch moment");
        break;
    case IMAGE_NOT_ENDABLE:
        state.problems++;
        say(h, "problem: instance number %d: image name %s runs now as another user, and a run cannot end it (%s)\n",
            (int)v.inv.instance, image, why);
        break;
    case IMAGE_UNKNOWN:
        state.problems++;
        say(h, "problem: instance number %d: whether image name %s runs now cannot be told (%s)\n",
            (int)v.inv.instance, image, why);
        break;
    }
}

void write_offset(int offset)
{
    int minutes = (offset < 0 ? -offset : offset) / 60;
    say(base(), "(%c%02d%02d)", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

void arguments(const RunValues& v)
{
    const Hooks& h = base();
    if (v.inv.source_id == v.source_given)
        say(h, "source id: %X\n", (unsigned)v.inv.source_id);
    else
        say(h, "source id: %X (the argument gave %X)\n", (unsigned)v.inv.source_id, (unsigned)v.source_given);
    char program[PROGRAM_DIR_CAP + IMAGE_NAME_CAP], why[REASON_CAP];
    char image[IMAGE_NAME_CAP];
    capture_image_name(v.suffix, image);
    (void)snprintf(program, sizeof program, "%s%s", v.program_dir, image); // fits: see its capacity
    if (platform_can_run(program, why, sizeof why)) {
        say(h, "capture program: %s\n", program);
    } else {
        state.problems++;
        say(h, "problem: the capture program %s cannot be started: %s\n", program, why);
    }

    LocalTime now = {};
    h.local_time(state.start, &now);
    say(h, "local time: %02d:%02d:%02d %s ", now.hour, now.minute, now.second, now.zone);
    write_offset(now.utc_offset);
    say(h, "\n");
    if (platform_zone_problem(why, sizeof why)) {
        state.problems++;
        say(h, "problem: %s\n", why);
    }
    say(h, "window text: %s%s\n", v.window, timing_is_window(v.time_arg) ? "" : ", handed on as given");
}

void launch(const RunValues& v)
{
    const Hooks& h = base();
    if (!timing_is_window(v.time_arg)) {
        say(h, "launch: now, with no wait\n");
        return;
    }
    int64_t left = state.paused_ms / 1000;
    if (left == 0) {
        say(h, "launch: now (the launch moment %02d:%02d:%02d)\n", v.at.hour, v.at.minute, v.at.second);
        return;
    }
    LocalTime now = {}, then = {};
    h.local_time(state.start, &now);
    h.local_time(clock_now(), &then);
    say(h, "launch: %s at %02d:%02d:%02d, in %d h %d min %d s", then.day == now.day ? "today" : "tomorrow",
        then.hour, then.minute, then.second, (int)(left / 3600), (int)(left / 60 % 60), (int)(left % 60));
    if (then.hour != v.at.hour || then.minute != v.at.minute || then.second != v.at.second)
        say(h, ", when the clock jumps over the launch moment %02d:%02d:%02d", v.at.hour, v.at.minute, v.at.second);
    say(h, "\n");
}

void name_taken(void*, const char* candidate, NameTaken why)
{
    size_t room = sizeof state.reasons - state.reasons_len;
    int n = snprintf(state.reasons + state.reasons_len, room, "%s%s %s", state.reasons_len ? "; " : "", candidate,
                     why == NAME_EXISTS ? "exists" : "is held by another run now");
    if (n >= 0 && (size_t)n < room)
        state.reasons_len += (size_t)n;
    else {
        state.reasons[state.reasons_len] = '\0';
        state.more_reasons++;
    }
}

void output_name(const RunValues& v)
{
    const Hooks& h = base();
    const char* name = v.output_name;
    if (v.inv.fixed_name_pos)
        say(h, "output name: %s, used as given (fn)\n", name);
    else if (state.reasons_len == 0 && state.more_reasons == 0)
        say(h, "output name: %s\n", name);
    else if (state.more_reasons == 0)
        say(h, "output name: %s (%s)\n", name, state.reasons);
    else
        say(h, "output name: %s (%s; and %u more taken)\n", name, state.reasons, state.more_reasons);

    // Its directory: up to its last separator; none is the current directory.
    char dir[OUTPUT_NAME_CAP], why[REASON_CAP];
    const char* sep = text_last_of(name, h.path_separators, h.is_lead_byte);
    size_t len = sep ? (size_t)(sep - name) + 1 : 0;
    memcpy(dir, name, len);
    dir[len] = '\0';
    const char* shown = len ? dir : "the current directory";
    if (platform_can_create_in(dir, why, sizeof why)) {
        say(h, "output directory: %s\n", shown);
    } else {
        state.problems++;
        say(h, "problem: no file can be created in the output directory %s: %s\n", shown, why);
    }
}

void step(Step s, const RunValues& v)
{
    switch (s) {
    case Step::SETTINGS_FILE:
        say(base(), "program directory: %s\nsettings file: %s\n", v.program_dir, v.settings_path);
        break;
    case Step::SETTINGS_READ:
        settings_read();
        break;
    case Step::INSTANCE:
        instance(v);
        break;
    case Step::ARGUMENTS:
        arguments(v);
        break;
    case Step::LAUNCH:
        launch(v);
        break;
    case Step::OUTPUT_NAME:
        output_name(v);
        break;
    }
}

} // namespace

Check check_begin(const Hooks& base)
{
    state = CheckState{};
    state.base = &base;
    state.start = base.clock_now();
    state.line = 1;
    state.settings = SettingsTrace{settings_piece, nullptr};
    state.names = NameTrace{name_taken, nullptr};

    Check check = {base, Report{step, &state.settings, &state.names}};
    check.hooks.clock_now = clock_now;
    check.hooks.sleep_ms = sleep_ms;
    check.hooks.run_command = run_command;
    check.hooks.reserve_name = reserve_name;
    check.hooks.release_name = release_name;
    check.hooks.write_progress = no_progress;
    return check;
}

int check_status(int run_status)
{
    if (run_status == 1 && !state.stop)
        return 1;
    return state.problems ? 2 : 0;
}
