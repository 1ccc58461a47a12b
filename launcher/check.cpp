// The check mode: its platform table, and the report it writes from the
// run's record. Every line of the report is one finding; a line that begins
// "problem: " names something that would keep the recording from being
// made, though a run would not refuse.
#include "launcher/check.h"

#include "base/text.h"
#include "launcher/run.h"

#include <stdio.h>
#include <string.h>

namespace {

const size_t NAME_REASONS_CAP = 400; // the names passed over that the report lists
const char NO_LOCAL_TIME[] = "the system's clock or time zone cannot be read";

struct CheckState {
    const Platform* base;
    int64_t start;     // base's clock when the check began
    int64_t paused_ms; // the pauses the run asked for, added up
    unsigned problems;
    char held[2 * MESSAGE_CAP]; // what the run wrote, for the report's end
    size_t held_len;
    RunRecord record;
} state;

// --- The check's table

int64_t clock_now()
{
    return state.start + state.paused_ms / 1000;
}

void sleep_ms(unsigned ms)
{
    state.paused_ms += ms;
}

StopResult end_image(const char*, int* ended, char*, size_t)
{
    *ended = 0;
    return STOP_NONE;
}

int run_command(const char*)
{
    return 0;
}

Reservation reserve_name(const char* name, char* why, size_t why_cap)
{
    Reservation r = state.base->reserve_name(name, why, why_cap);
    if (r == RESERVED)
        state.base->release_name();
    return r;
}

void release_name() {}

void hold(const char* text, size_t len)
{
    size_t room = sizeof state.held - state.held_len;
    memcpy(state.held + state.held_len, text, len < room ? len : room);
    state.held_len += len < room ? len : room;
}

void no_progress(const char*, size_t) {}

// --- The report

// Says a problem: a line that begins "problem: ".
void problem(const char* what, const char* why)
{
    state.problems++;
    say(*state.base, "problem: %s: %s\n", what, why);
}

// A piece's text in double quotation marks, '"' and '\' escaped with '\',
// control bytes as \xNN.
void quote(const char* text, size_t len)
{
    char shown[4 * SETTINGS_PIECE_CAP + 3];
    static_assert(4 * (SETTINGS_PIECE_READ - 1) + 3 <= sizeof shown, "an escaped piece always fits");
    size_t n = 0;
    shown[n++] = '"';
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c == '"' || c == '\\')
            shown[n++] = '\\';
        if (c < ' ' || c == 0x7F)
            n += (size_t)snprintf(shown + n, sizeof shown - n, "\\x%02X", c);
        else
            shown[n++] = (char)c;
    }
    shown[n++] = '"';
    state.base->write_out(shown, n);
}

void remarks(int from, int to)
{
    if (from == to)
        say(*state.base, "line %d: remark\n", from);
    else if (from < to)
        say(*state.base, "lines %d to %d: remarks\n", from, to);
}

void act(const SettingsAct& a)
{
    const Platform& os = *state.base;
    if (a.piece > 1 || a.len >= SETTINGS_PIECE_READ - 1)
        say(os, "line %d, piece %d: ", a.line, a.piece);
    else
        say(os, "line %d: ", a.line);
    quote(a.text, a.len);
    switch (a.effect) {
    case SettingsAct::NO_NUMBER:
        return say(os, ": ignored, no number could be read\n");
    case SettingsAct::INSTANCE:
        return say(os, ": instance number %d -> %d\n", (int)a.instance_before, (int)a.instance_after);
    case SettingsAct::MARGINS:
        return say(os, ": margins %d s early, %d s late\n", a.margins.lead, a.margins.trail);
    case SettingsAct::MAPPED:
        return say(os, ": source id %X -> %X, reading ends\n", (unsigned)a.source_before, (unsigned)a.source_after);
    case SettingsAct::NOT_MAPPED:
        return say(os, ": a mapping from %X, not the source id %X\n", (unsigned)a.mapping_from,
                   (unsigned)a.source_before);
    case SettingsAct::MAPPING_SKIPPED:
        return say(os, ": a mapping, not considered: the source id is %X, not above 0\n",
                   (unsigned)a.source_before);
    }
}

// The lines of the settings file: those that act or should, each piece
// with its number where its line has several (or may: a full piece), runs
// of remarks between them, and what a mapping that matched left unread.
void settings(const SettingsRecord& s)
{
    const Platform& os = *state.base;
    int kept = s.acts < (int)SETTINGS_ACTS_KEPT ? s.acts : (int)SETTINGS_ACTS_KEPT, next = 1;
    for (int i = 0; i < kept; i++) {
        const SettingsAct& a = s.act[i];
        remarks(next, a.line - 1);
        act(a);
        bool last_of_line = i + 1 == kept || s.act[i + 1].line != a.line;
        if (last_of_line && a.line_pieces > 1 && a.line != s.mapped_line)
            say(os, "line %d has %u characters: read as %d pieces\n", a.line, (unsigned)a.line_chars, a.line_pieces);
        next = a.line + 1;
    }
    if (s.acts > kept)
        say(os, "and %d more pieces that act, not shown\n", s.acts - kept);
    else
        remarks(next, s.mapped_line ? s.mapped_line : s.lines);
    int m = s.mapped_line;
    if (!m || (!s.rest_unread && s.lines <= m))
        return;
    if (s.rest_unread)
        say(os, "the rest of line %d%s", m, s.lines > m ? " and " : "");
    if (s.lines > m + 1)
        say(os, "lines %d to %d", m + 1, s.lines);
    else if (s.lines > m)
        say(os, "line %d", m + 1);
    say(os, " not read: the mapping on line %d matched\n", m);
}

void instance(const RunRecord& r)
{
    const Platform& os = *state.base;
    bool stop = r.step == Step::STOP;
    char why[REASON_CAP] = "", what[2 * IMAGE_NAME_CAP + 64];
    (void)snprintf(what, sizeof what, "instance number %d: image name %s", (int)r.inv.instance, r.image);
    switch (os.image_state(r.image, why, sizeof why)) {
    case IMAGE_NOT_RUNNING:
        return say(os, "%s, which does not run now%s\n", what, stop ? ": the stop request would end nothing" : "");
    case IMAGE_RUNNING:
        return say(os, "%s, which runs now: %s\n", what,
                   stop ? "the stop request would end it" : "a run would end it at its launch moment");
    case IMAGE_NOT_ENDABLE:
        state.problems++;
        return say(os, "problem: %s runs now as another user, and a run cannot end it (%s)\n", what, why);
    case IMAGE_UNKNOWN:
        state.problems++;
        return say(os, "problem: instance number %d: whether image name %s runs now cannot be told (%s)\n",
                   (int)r.inv.instance, r.image, why);
    }
}

void arguments(const RunRecord& r)
{
    const Platform& os = *state.base;
    const SettingsAct* mapped = nullptr;
    for (int i = 0; i < r.settings.acts && i < (int)SETTINGS_ACTS_KEPT; i++)
        if (r.settings.act[i].effect == SettingsAct::MAPPED)
            mapped = &r.settings.act[i];
    if (mapped)
        say(os, "source id: %X (the argument gave %X)\n", (unsigned)r.inv.source_id, (unsigned)mapped->source_before);
    else
        say(os, "source id: %X\n", (unsigned)r.inv.source_id);
    char program[PROGRAM_DIR_CAP + IMAGE_NAME_CAP], why[REASON_CAP], what[sizeof program + 64];
    (void)snprintf(program, sizeof program, "%s%s", r.program_dir, r.image); // fits: see its capacity
    (void)snprintf(what, sizeof what, "the capture program %s cannot be started", program);
    if (os.can_run(program, why, sizeof why))
        say(os, "capture program: %s\n", program);
    else
        problem(what, why);

    LocalTime now = {};
    if (os.local_time(state.start, &now)) {
        int offset = now.utc_offset < 0 ? -now.utc_offset / 60 : now.utc_offset / 60;
        say(os, "local time: %02d:%02d:%02d %s (%c%02d%02d)\n", now.hour, now.minute, now.second, now.zone,
            now.utc_offset < 0 ? '-' : '+', offset / 60, offset % 60);
    } else {
        problem("the local time cannot be told", NO_LOCAL_TIME);
    }
    if (os.zone_problem(why, sizeof why)) {
        state.problems++;
        say(os, "problem: %s\n", why);
    }
    say(os, "window text: %s%s\n", r.time.text, r.time.is_window ? "" : ", handed on as given");
}

int seconds_of_day(int hour, int minute, int second)
{
    return (hour * 60 + minute) * 60 + second;
}

void launch(const RunRecord& r)
{
    const Platform& os = *state.base;
    const LaunchMoment& at = r.time.at;
    int64_t left = state.paused_ms / 1000;
    if (!r.time.is_window)
        return say(os, "launch: now, with no wait\n");
    if (left == 0)
        return say(os, "launch: now (the launch moment %02d:%02d:%02d)\n", at.hour, at.minute, at.second);
    LocalTime now = {}, then = {};
    if (!os.local_time(state.start, &now) || !os.local_time(clock_now(), &then))
        return problem("the launch moment cannot be told", NO_LOCAL_TIME);
    say(os, "launch: %s at %02d:%02d:%02d, in %d h %d min %d s", then.day == now.day ? "today" : "tomorrow",
        then.hour, then.minute, then.second, (int)(left / 3600), (int)(left / 60 % 60), (int)(left % 60));
    if (then.hour != at.hour || then.minute != at.minute || then.second != at.second)
        say(os, ", when the clock jumps over the launch moment %02d:%02d:%02d", at.hour, at.minute, at.second);
    say(os, "\n");
    // Started inside its own window, a run waits for tomorrow's launch.
    const Window& w = r.time.window;
    int opens = seconds_of_day(at.hour, at.minute, at.second), clock = seconds_of_day(now.hour, now.minute, now.second);
    int closes = at.end_hour < 0 ? opens : seconds_of_day(at.end_hour, at.end_minute, at.end_second);
    bool open = opens <= closes ? clock > opens && clock < closes : clock > opens || clock < closes;
    if (then.day != now.day && w.end_given && open)
        say(os, "the window %s is open now: a run started now records tomorrow's\n", r.time.text);
}

void output_name(const RunRecord& r)
{
    const Platform& os = *state.base;
    char reasons[NAME_REASONS_CAP] = "", candidate[OUTPUT_NAME_CAP];
    size_t len = 0;
    int listed = 0, kept = r.passed.count < (int)NAMES_KEPT ? r.passed.count : (int)NAMES_KEPT;
    for (int n = 0; n < kept && capture_candidate(r.file_arg, n, os, candidate, sizeof candidate); n++) {
        int k = snprintf(reasons + len, sizeof reasons - len, "%s%s %s", len ? "; " : "", candidate,
                         r.passed.why[n] == NamesPassed::EXISTS ? "exists" : "is held by another run now");
        if (k < 0 || (size_t)k >= sizeof reasons - len)
            break;
        len += (size_t)k;
        listed++;
    }
    reasons[len] = '\0';
    char note[REASON_CAP] = "";
    if (!os.name_problem(r.file_arg, note, sizeof note) && note[0])
        say(os, "%s\n", note); // Windows: look-alikes took the place of characters
    if (r.inv.fixed_name_pos)
        say(os, "output name: %s, used as given (fn)\n", r.output_name);
    else if (r.passed.count == 0)
        say(os, "output name: %s\n", r.output_name);
    else if (listed == r.passed.count)
        say(os, "output name: %s (%s)\n", r.output_name, reasons);
    else
        say(os, "output name: %s (%s; and %d more taken)\n", r.output_name, reasons, r.passed.count - listed);

    // Its directory: up to its last separator; none is the current
    // directory, or on Windows, after a drive letter, that drive's.
    char dir[OUTPUT_NAME_CAP], shown[OUTPUT_NAME_CAP + 64], why[REASON_CAP], what[sizeof shown + 64];
    const char* name = r.output_name;
    const char* sep = text_last_of(name, os.path_separators, os.is_lead_byte);
    bool drive = !sep && strchr(os.path_separators, '\\') && name[0] && name[1] == ':';
    size_t dir_len = sep ? (size_t)(sep - name) + 1 : drive ? 2 : 0;
    memcpy(dir, name, dir_len);
    dir[dir_len] = '\0';
    (void)snprintf(shown, sizeof shown, drive ? "the current directory of drive %s" : sep ? "%s" : "the current directory",
                   dir);
    (void)snprintf(what, sizeof what, "no file can be created in the output directory %s", shown);
    if (os.can_create_in(dir, why, sizeof why))
        say(os, "output directory: %s\n", shown);
    else
        problem(what, why);
}

} // namespace

int check_run(int argc, const char* const* argv, const Platform& os)
{
    state.problems = 0;
    state.paused_ms = 0;
    state.held_len = 0;
    state.base = &os;
    state.start = os.clock_now();
    Platform check = os;
    check.clock_now = clock_now;
    check.sleep_ms = sleep_ms;
    check.end_image = end_image;
    check.run_command = run_command;
    check.reserve_name = reserve_name;
    check.release_name = release_name;
    check.write_out = hold;
    check.write_progress = no_progress;

    RunRecord& r = state.record;
    run_sequence(argc, argv, check, &r);
    if (r.step > Step::PROGRAM_DIR)
        say(os, "program directory: %s\nsettings file: %s%s\n", r.program_dir, r.settings_path,
            r.settings.encoding == SettingsRecord::BYTES ? "" : ", saved as UTF-16: read as its characters");
    if (r.step > Step::SETTINGS)
        settings(r.settings);
    if (r.step >= Step::STOP)
        instance(r);
    if (r.step > Step::ARGUMENTS)
        arguments(r);
    if (r.step > Step::WAIT)
        launch(r);
    if (r.step > Step::OUTPUT_NAME)
        output_name(r);
    os.write_out(state.held, state.held_len);
    return r.refused ? 1 : state.problems ? 2 : 0;
}
