// The check mode: its platform table, and the report it writes from the
// run's record. Every line of the report is one finding; a line that begins
// "problem: " names something that would keep the recording from being
// made, though a run would not refuse.
#include "launcher/check.h"

#include "base/text.h"
#include "launcher/run.h"
#include "timing/wait.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const size_t NAME_REASONS_CAP = 400; // the names passed over that the report lists

// The check's state: the system's table, its clock when the check began
// and the local time then, the pauses the run asked for, the problems
// found, and what the run wrote, held back for the report's end.
const Platform* base;
int64_t start, paused_ms;
LocalTime began;
bool began_read;
unsigned problems;
char held[2 * MESSAGE_CAP];
size_t held_len;
RunRecord record;

// --- The report

// Says a problem: a line that begins "problem: ".
void problem(const char* fmt, ...)
{
    char line[MESSAGE_CAP];
    va_list ap;
    va_start(ap, fmt);
    (void)vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    problems++;
    say(*base, "problem: %s", line);
}

// Lines from to to: one, several, or none when to comes before from.
void lines(int from, int to, const char* one, const char* several)
{
    if (from <= to)
        say(*base, from == to ? one : several, from, to);
}

void act(const SettingsAct& a)
{
    // Numbered where its line has several pieces, or may have (a full piece).
    say(*base, a.piece > 1 || a.len >= SETTINGS_PIECE_READ - 1 ? "line %d, piece %d: " : "line %d: ", a.line, a.piece);
    char shown[4 * SETTINGS_PIECE_CAP + 3];
    static_assert(4 * (SETTINGS_PIECE_READ - 1) + 3 <= sizeof shown, "an escaped piece always fits");
    base->write_out(shown, text_quote(a.text, a.len, shown, sizeof shown));
    const struct {
        const char* format;
        int32_t x, y;
    } effects[] = {
        {": ignored, no number could be read\n", 0, 0},
        {": instance number %d -> %d\n", a.instance_before, a.instance_after},
        {": margins %d s early, %d s late\n", a.margins.lead, a.margins.trail},
        {": source id %X -> %X, reading ends\n", a.source_before, a.source_after},
        {": a mapping from %X, not the source id %X\n", a.mapping_from, a.source_before},
        {": a mapping, not considered: the source id is %X, not above 0\n", a.source_before, 0},
    };
    say(*base, effects[a.effect].format, effects[a.effect].x, effects[a.effect].y);
}

// The lines of the settings file: those that act or should, each piece
// with its number where its line has several (or may: a full piece), runs
// of remarks between them, and what a mapping that matched left unread.
void settings(const SettingsRecord& s)
{
    int kept = s.kept, next = 1;
    for (int i = 0; i < kept; i++) {
        const SettingsAct& a = s.act[i];
        lines(next, a.line - 1, "line %d: remark\n", "lines %d to %d: remarks\n");
        act(a);
        bool last_of_its_line = i + 1 == kept || s.act[i + 1].line != a.line;
        if (last_of_its_line && a.line_pieces > 1 && a.line != s.mapped_line)
            say(*base, "line %d has %u characters: read as %d pieces\n", a.line, (unsigned)a.line_chars, a.line_pieces);
        next = a.line + 1;
    }
    if (s.acts > kept)
        say(*base, "and %d more pieces that act, not shown\n", s.acts - kept);
    else
        lines(next, s.mapped_line ? s.mapped_line : s.lines, "line %d: remark\n", "lines %d to %d: remarks\n");
    int m = s.mapped_line;
    if (!m || (!s.rest_unread && s.lines <= m))
        return;
    if (s.rest_unread)
        say(*base, "the rest of line %d%s", m, s.lines > m ? " and " : "");
    lines(m + 1, s.lines, "line %d", "lines %d to %d");
    say(*base, " not read: the mapping on line %d matched\n", m);
}

void instance(const RunRecord& r)
{
    bool stop = r.step == Step::STOP;
    char why[REASON_CAP] = "";
    int n = (int)r.inv.instance;
    switch (base->image_state(r.image, why, sizeof why)) {
    case IMAGE_NOT_RUNNING:
        return say(*base, "instance number %d: image name %s, which does not run now%s\n", n, r.image,
                   stop ? ": the stop request would end nothing" : "");
    case IMAGE_RUNNING:
        return say(*base, "instance number %d: image name %s, which runs now: %s\n", n, r.image,
                   stop ? "the stop request would end it" : "a run would end it at its launch moment");
    case IMAGE_NOT_ENDABLE:
        return problem("instance number %d: image name %s runs now as another user, and a run cannot end it (%s)\n",
                       n, r.image, why);
    case IMAGE_UNKNOWN:
        return problem("instance number %d: whether image name %s runs now cannot be told (%s)\n", n, r.image, why);
    }
}

void arguments(const RunRecord& r)
{
    int32_t given = r.inv.source_id; // before a mapping that matched
    for (int i = 0; i < r.settings.kept; i++)
        given = r.settings.act[i].effect == SettingsAct::MAPPED ? r.settings.act[i].source_before : given;
    say(*base, given == r.inv.source_id ? "source id: %X\n" : "source id: %X (the argument gave %X)\n",
        (unsigned)r.inv.source_id, (unsigned)given);
    char program[PROGRAM_DIR_CAP + IMAGE_NAME_CAP], why[REASON_CAP];
    (void)snprintf(program, sizeof program, "%s%s", r.program_dir, r.image); // fits: see its capacity
    if (base->can_run(program, why, sizeof why))
        say(*base, "capture program: %s\n", program);
    else
        problem("the capture program %s cannot be started: %s\n", program, why);

    int minutes = (began.utc_offset < 0 ? -began.utc_offset : began.utc_offset) / 60; // east of UTC, or west
    if (!began_read)
        problem("the local time cannot be read\n");
    else
        say(*base, "local time: %02d:%02d:%02d %s (%c%02d%02d)\n", began.hour, began.minute, began.second,
            began.zone, began.utc_offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    if (base->zone_problem(why, sizeof why))
        problem("%s\n", why);
    say(*base, "window text: %s%s\n", r.time.text, r.time.is_window ? "" : ", handed on as given");
}

void launch(const RunRecord& r)
{
    const LaunchMoment& at = r.time.at;
    int64_t left = paused_ms / 1000;
    if (!r.time.is_window)
        return say(*base, "launch: now, with no wait\n");
    if (left == 0)
        return say(*base, "launch: now (the launch moment %02d:%02d:%02d)\n", at.hour, at.minute, at.second);
    LocalTime then = {};
    if (!base->local_time(start + left, &then) || !began_read)
        return problem("when the launch comes cannot be told: the local time cannot be read\n");
    say(*base, "launch: %s at %02d:%02d:%02d, in %d h %d min %d s", then.day == began.day ? "today" : "tomorrow",
        then.hour, then.minute, then.second, (int)(left / 3600), (int)(left / 60 % 60), (int)(left % 60));
    if (then.hour != at.hour || then.minute != at.minute || then.second != at.second)
        say(*base, ", when the clock jumps over the launch moment %02d:%02d:%02d", at.hour, at.minute, at.second);
    say(*base, "\n");
    if (then.day != began.day && timing_window_is_open(at, began))
        say(*base, "the window %s is open now: a run started now records tomorrow's\n", r.time.text);
}

void output_name(const RunRecord& r)
{
    char reasons[NAME_REASONS_CAP], more[32] = ""; // fits: "; and ", ten digits and " more taken"
    int listed = capture_describe_passed(r.file_name, r.passed, *base, reasons, sizeof reasons);
    if (r.stored_as[0])
        say(*base, "%s\n", r.stored_as); // Windows: look-alikes took the place of characters
    if (listed < r.passed.count)
        (void)snprintf(more, sizeof more, "; and %d more taken", r.passed.count - listed);
    if (r.inv.fixed_name_pos)
        say(*base, "output name: %s, used as given (fn)\n", r.output_name);
    else
        say(*base, r.passed.count ? "output name: %s (%s%s)\n" : "output name: %s\n", r.output_name, reasons, more);

    char dir[OUTPUT_NAME_CAP], shown[OUTPUT_NAME_CAP + 64], why[REASON_CAP];
    bool drive = capture_output_dir(r.output_name, *base, dir);
    (void)snprintf(shown, sizeof shown, drive ? "the current directory of drive %s" : dir[0] ? "%s" : "the current directory%s",
                   dir);
    if (base->can_create_in(dir, why, sizeof why))
        say(*base, "output directory: %s\n", shown);
    else
        problem("no file can be created in the output directory %s: %s\n", shown, why);
}

} // namespace

int check_run(int argc, const char* const* argv, const Platform& os)
{
    base = &os;
    start = os.clock_now();
    began_read = os.local_time(start, &began);
    paused_ms = 0, held_len = 0, problems = 0;
    Platform check = os;
    check.clock_now = [] { return start + paused_ms / 1000; };
    check.sleep_ms = [](unsigned ms) { paused_ms += ms; };
    check.end_image = [](const char*, int* ended, char*, size_t) { return *ended = 0, STOP_NONE; };
    check.run_command = [](const char*) { return 0; };
    check.reserve_name = [](const char* name, char* why, size_t why_cap) {
        Reservation r = base->reserve_name(name, why, why_cap);
        if (r == RESERVED)
            base->release_name(); // taken and let go at once
        return r;
    };
    check.release_name = [] {};
    check.write_out = [](const char* text, size_t len) {
        size_t n = len < sizeof held - held_len ? len : sizeof held - held_len;
        memcpy(held + held_len, text, n);
        held_len += n;
    };
    check.write_progress = [](const char*, size_t) {};

    run_sequence(argc, argv, check, &record);
    if (record.step > Step::PROGRAM_DIR)
        say(*base, "program directory: %s\nsettings file: %s%s\n", record.program_dir, record.settings_path,
            record.settings.encoding == SettingsRecord::BYTES ? "" : ", saved as UTF-16: read as its characters");
    if (record.step > Step::SETTINGS)
        settings(record.settings);
    if (record.step >= Step::STOP)
        instance(record);
    if (record.step > Step::ARGUMENTS)
        arguments(record);
    if (record.step > Step::WAIT)
        launch(record);
    if (record.step > Step::OUTPUT_NAME)
        output_name(record);
    os.write_out(held, held_len);
    return record.refused ? 1 : problems ? 2 : 0;
}
