// The check mode: its platform table, and the report it writes from the
// run's record. Every line of the report is one finding; a line that begins
// "problem: " names something that would keep the recording from being
// made, though a run would not refuse.
#include "launcher/check.h"

#include "base/text.h"
#include "launcher/run.h"
#include "timing/wait.h"

#include <stdio.h>
#include <string.h>

namespace {

// Every line the check writes is whole: the longest is the output name's,
// with the names passed over.
static_assert(sizeof "output name:  (; and  more taken)\n" + OUTPUT_NAME_CAP + PASSED_TEXT_CAP + 10 < MESSAGE_CAP,
              "the output name's line fits a message");
static_assert(sizeof "problem: no file can be created in the output directory : \n" + OUTPUT_NAME_CAP + 64 +
                      REASON_CAP < MESSAGE_CAP,
              "the output directory's line fits a message");

// The check's state: the system's table it is built on, the system clock
// and the local time when it began, the pauses the run asked for, the
// problems the report found, and what the run wrote, held back for the
// report's end.
const Platform* system_os;
int64_t began_at, paused_ms;
LocalTime began;
bool began_read;
unsigned problems;
char run_output[2 * MESSAGE_CAP];
size_t run_output_len;
RunRecord record;

// --- The report

// Writes report text: a line that begins "problem: " is counted.
void report(const char* text, size_t len)
{
    const char PROBLEM[] = "problem: ";
    if (len >= sizeof PROBLEM - 1 && memcmp(text, PROBLEM, sizeof PROBLEM - 1) == 0)
        problems++;
    system_os->write_out(text, len);
}

// Lines from to to: one, several, or none when to comes before from.
void lines(int from, int to, const char* one, const char* several)
{
    if (from <= to)
        say(report, from == to ? one : several, from, to);
}

// Where the run got: its steps come in Step's order, so a run that ended
// in one step got past each one before it.
bool got_past(const RunRecord& r, Step step)
{
    return r.step > step;
}

bool found_program_dir(const RunRecord& r)
{
    return got_past(r, Step::PROGRAM_DIR);
}

bool applied_settings(const RunRecord& r)
{
    return got_past(r, Step::SETTINGS);
}

bool formed_image(const RunRecord& r)
{
    return got_past(r, Step::INSTANCE);
}

bool missed_arguments(const RunRecord& r)
{
    return r.step == Step::ARGUMENTS && (r.inv.source_id == 0 || r.inv.time_pos == 0 || r.inv.file_pos == 0);
}

bool took_arguments(const RunRecord& r)
{
    return got_past(r, Step::ARGUMENTS);
}

bool waited(const RunRecord& r)
{
    return got_past(r, Step::WAIT);
}

bool picked_output_name(const RunRecord& r)
{
    return got_past(r, Step::OUTPUT_NAME);
}

// What one piece of the settings file did, after its text.
void write_effect(const SettingsAct& a)
{
    switch (a.effect) {
    case SettingsAct::NO_NUMBER:
        return say(report, ": ignored, no number could be read\n");
    case SettingsAct::INSTANCE:
        return say(report, ": instance number %d -> %d\n", (int)a.instance_before, (int)a.instance_after);
    case SettingsAct::MARGINS:
        return say(report, ": margins %d s early, %d s late\n", a.margins.lead, a.margins.trail);
    case SettingsAct::MAPPED:
        return say(report, ": source id %X -> %X, reading ends\n", (unsigned)a.source_before, (unsigned)a.source_after);
    case SettingsAct::NOT_MAPPED:
        return say(report, ": a mapping from %X, not the source id %X\n", (unsigned)a.mapping_from,
                   (unsigned)a.source_before);
    case SettingsAct::MAPPING_SKIPPED:
        return say(report, ": a mapping, not considered: the source id is %X, not above 0\n",
                   (unsigned)a.source_before);
    }
}

void write_act(const SettingsAct& a)
{
    // Numbered where its line has several pieces, or may have (a full piece).
    say(report, a.piece > 1 || a.len >= SETTINGS_PIECE_READ - 1 ? "line %d, piece %d: " : "line %d: ", a.line, a.piece);
    char shown[4 * SETTINGS_PIECE_CAP + 3];
    static_assert(4 * (SETTINGS_PIECE_READ - 1) + 3 <= sizeof shown, "an escaped piece always fits");
    size_t len = text_quote(a.text, a.len, shown, sizeof shown);
    report(shown, len);
    write_effect(a);
}

void report_settings_file(const RunRecord& r)
{
    say(report, "program directory: %s\n", r.program_dir);
    if (r.settings_read == SETTINGS_NOT_OPENED)
        return say(report, "settings file: %s cannot be opened: %s\n", r.settings_path, r.settings_why);
    say(report, "settings file: %s%s\n", r.settings_path,
        r.settings.encoding == SettingsRecord::BYTES ? "" : ", saved as UTF-16: read as its characters");
}

// The lines of the settings file: those that act or should, each piece
// with its number where its line has several (or may: a full piece), runs
// of remarks between them, and what a mapping that matched left unread.
void report_settings_lines(const SettingsRecord& s)
{
    int kept = s.kept, next = 1;
    for (int i = 0; i < kept; i++) {
        const SettingsAct& a = s.act[i];
        lines(next, a.line - 1, "line %d: remark\n", "lines %d to %d: remarks\n");
        write_act(a);
        bool last_of_its_line = i + 1 == kept || s.act[i + 1].line != a.line;
        if (last_of_its_line && a.line_pieces > 1 && a.line != s.mapped_line)
            say(report, "line %d has %u characters: read as %d pieces\n", a.line, (unsigned)a.line_chars,
                a.line_pieces);
        next = a.line + 1;
    }
    if (s.acts > kept)
        say(report, "and %d more pieces that act, not shown\n", s.acts - kept);
    else
        lines(next, s.lines, "line %d: remark\n", "lines %d to %d: remarks\n");
    if (!s.mapped_line)
        return;
    // The mapping is the last piece read; a full one may have more of its line after it.
    const SettingsAct& mapping = s.act[kept - 1];
    bool full = s.acts == kept && mapping.line == s.mapped_line && mapping.len >= SETTINGS_PIECE_READ - 1;
    say(report, full ? "the rest of line %d and the lines after it are not read: the mapping on line %d matched\n"
                     : "the lines after line %d are not read: the mapping on line %d matched\n",
        s.mapped_line, s.mapped_line);
}

void report_instance(const RunRecord& r)
{
    bool stop = r.step == Step::STOP;
    char why[REASON_CAP] = "";
    int n = (int)r.inv.instance;
    if (n != 0 && r.suffix[0] == '\0')
        say(report, "instance number %d names %s, as instance 0 does\n", n, r.image);
    switch (system_os->image_state(r.image, why, sizeof why)) {
    case IMAGE_NOT_RUNNING:
        return say(report, "instance number %d: image name %s, which does not run now%s\n", n, r.image,
                   stop ? ": the stop request would end nothing" : "");
    case IMAGE_RUNNING:
        return say(report, "instance number %d: image name %s, which runs now: %s\n", n, r.image,
                   stop ? "the stop request would end it" : "a run would end it at its launch moment");
    case IMAGE_NOT_ENDABLE:
        return say(report,
                   "problem: instance number %d: image name %s runs now as another user, and a run cannot end it "
                   "(%s)\n",
                   n, r.image, why);
    case IMAGE_UNKNOWN:
        return say(report, "problem: instance number %d: whether image name %s runs now cannot be told (%s)\n", n,
                   r.image, why);
    }
}

// Which of the required arguments a run misses, and how each is recognised.
void report_missing_arguments(const RunRecord& r)
{
    if (r.inv.file_pos == 0)
        say(report, "missing: the output file, an argument that holds a '.' (rec.ts)\n");
    if (r.inv.source_id == 0)
        say(report, "missing: the source id, an argument that begins with '@', in hex and not 0 (@400)%s\n",
            r.settings.mapped_line ? ", after the settings file's mapping" : "");
    if (r.inv.time_pos == 0)
        say(report, "missing: the time, an argument that begins with a digit (21:00-21:30, or 2100 to hand on)\n");
}

void report_arguments(const RunRecord& r)
{
    int32_t given = r.inv.source_id; // before a mapping that matched
    for (int i = 0; i < r.settings.kept; i++)
        given = r.settings.act[i].effect == SettingsAct::MAPPED ? r.settings.act[i].source_before : given;
    say(report, given == r.inv.source_id ? "source id: %X\n" : "source id: %X (the argument gave %X)\n",
        (unsigned)r.inv.source_id, (unsigned)given);
    char program[PROGRAM_DIR_CAP + IMAGE_NAME_CAP], why[REASON_CAP];
    (void)snprintf(program, sizeof program, "%s%s", r.program_dir, r.image); // fits: see its capacity
    if (system_os->can_run(program, why, sizeof why))
        say(report, "capture program: %s\n", program);
    else
        say(report, "problem: the capture program %s cannot be started: %s\n", program, why);

    int minutes = (began.utc_offset < 0 ? -began.utc_offset : began.utc_offset) / 60; // east of UTC, or west
    if (!began_read)
        say(report, "problem: the local time cannot be read\n");
    else
        say(report, "local time: %02d:%02d:%02d %s (%c%02d%02d)\n", began.hour, began.minute, began.second, began.zone,
            began.utc_offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    if (system_os->zone_problem(why, sizeof why))
        say(report, "problem: %s\n", why);
    say(report, "window text: %s%s\n", r.time.text, r.time.is_window ? "" : ", handed on as given");
}

void report_launch(const RunRecord& r)
{
    const LaunchMoment& at = r.time.at;
    int64_t left = paused_ms / 1000;
    if (!r.time.is_window)
        return say(report, "launch: now, with no wait\n");
    if (!began_read)
        return say(report, "problem: when the launch comes cannot be told: the local time cannot be read\n");
    LocalTime then = {};
    if (left == 0) {
        say(report, "launch: now (the launch moment %02d:%02d:%02d)\n", at.hour, at.minute, at.second);
    } else if (!system_os->local_time(began_at + left, &then)) {
        return say(report, "problem: when the launch comes cannot be told: the local time cannot be read\n");
    } else {
        say(report, "launch: %s at %02d:%02d:%02d, in %d h %d min %d s", then.day == began.day ? "today" : "tomorrow",
            then.hour, then.minute, then.second, (int)(left / 3600), (int)(left / 60 % 60), (int)(left % 60));
        if (then.hour != at.hour || then.minute != at.minute || then.second != at.second)
            say(report, ", when the clock jumps over the launch moment %02d:%02d:%02d", at.hour, at.minute, at.second);
        say(report, "\n");
    }
    if (timing_window_is_open(at, began))
        say(report, "problem: the window %s is open now: a run started now records the next one, not this one\n",
            r.time.text);
}

void report_output_name(const RunRecord& r)
{
    if (r.file_stored == STORED_WITH_LOOK_ALIKES)
        say(report, "the name given is stored as %s: %s\n", r.file_name, r.stored_why);
    const NamesPassed& passed = r.passed;
    char more[32] = ""; // fits: "; and ", ten digits and " more taken"
    if (passed.listed < passed.count)
        (void)snprintf(more, sizeof more, "; and %d more taken", passed.count - passed.listed);
    if (r.inv.fixed_name_pos)
        say(report, "output name: %s, used as given (fn)\n", r.output_name);
    else if (passed.count)
        say(report, "output name: %s (%s%s)\n", r.output_name, passed.text, more);
    else
        say(report, "output name: %s\n", r.output_name);

    char dir[OUTPUT_NAME_CAP], shown[OUTPUT_NAME_CAP + 64], why[REASON_CAP];
    OutputDir where = system_os->output_dir(r.output_name, dir);
    (void)snprintf(shown, sizeof shown,
                   where == DIR_DRIVE_CURRENT ? "the current directory of drive %s"
                   : where == DIR_NAMED       ? "%s"
                                              : "the current directory%s",
                   dir);
    if (system_os->can_create_in(dir, why, sizeof why))
        say(report, "output directory: %s\n", shown);
    else
        say(report, "problem: no file can be created in the output directory %s: %s\n", shown, why);
}

} // namespace

int check_run(int argc, const char* const* argv, const Platform& os)
{
    system_os = &os;
    began_at = os.clock_now();
    began_read = os.local_time(began_at, &began);
    paused_ms = 0, run_output_len = 0, problems = 0;
    Platform check = os;
    check.clock_now = [] { return began_at + paused_ms / 1000; };
    check.sleep_ms = [](unsigned ms) { paused_ms += ms; };
    check.end_image = [](const char*, int* ended, char*, size_t) { return *ended = 0, STOP_NONE; };
    check.run_command = [](const Platform&, const char*) { return 0; };
    check.reserve_name = [](const char* name, char* why, size_t why_cap) {
        Reservation r = system_os->reserve_name(name, why, why_cap);
        if (r == RESERVED)
            system_os->release_name(); // taken and let go at once
        return r;
    };
    check.release_name = [] {};
    check.write_out = [](const char* text, size_t len) {
        size_t n = len < sizeof run_output - run_output_len ? len : sizeof run_output - run_output_len;
        memcpy(run_output + run_output_len, text, n);
        run_output_len += n;
    };
    check.write_progress = [](const char*, size_t) {};

    run_sequence(argc, argv, check, &record);
    if (found_program_dir(record))
        report_settings_file(record);
    if (applied_settings(record))
        report_settings_lines(record.settings);
    if (formed_image(record))
        report_instance(record);
    if (missed_arguments(record))
        report_missing_arguments(record);
    if (took_arguments(record))
        report_arguments(record);
    if (waited(record))
        report_launch(record);
    if (picked_output_name(record))
        report_output_name(record);
    os.write_out(run_output, run_output_len);
    return record.refused ? 1 : problems ? 2 : 0;
}
