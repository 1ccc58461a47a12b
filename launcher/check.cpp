// The check mode's report.
#include "launcher/check.h"

#include "base/limits.h"
#include "timing/wait.h"

#include <stdio.h>

namespace {

// The piece's text in double quotation marks, control bytes escaped.
void quote(const Hooks& h, const char* text, size_t len)
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
    h.write_out(shown, n);
}

void settings_event(void* context, const SettingsEvent& e)
{
    const Hooks& h = *static_cast<const Hooks*>(context);
    switch (e.kind) {
    case SettingsEvent::LONG_LINE:
        say(h, "line %d has %u characters: read as %d pieces\n", e.line, (unsigned)e.len, e.piece);
        return;
    case SettingsEvent::UNREAD:
        if (e.rest_of_line && e.last_line > e.line)
            say(h, "the rest of line %d and lines %d to %d not read", e.line, e.line + 1, e.last_line);
        else if (e.rest_of_line)
            say(h, "the rest of line %d not read", e.line);
        else if (e.last_line == e.line + 1)
            say(h, "line %d not read", e.last_line);
        else
            say(h, "lines %d to %d not read", e.line + 1, e.last_line);
        say(h, ": the mapping on line %d matched\n", e.line);
        return;
    case SettingsEvent::PIECE:
        break;
    }
    if (e.piece > 1 || e.len >= SETTINGS_PIECE_READ - 1)
        say(h, "line %d, piece %d: ", e.line, e.piece);
    else
        say(h, "line %d: ", e.line);
    quote(h, e.text, e.len);
    switch (e.effect) {
    case SettingsEvent::REMARK:
        say(h, ": ignored as a remark\n");
        break;
    case SettingsEvent::NO_NUMBER:
        say(h, ": ignored, no number could be read\n");
        break;
    case SettingsEvent::INSTANCE:
        say(h, ": instance number %d -> %d\n", (int)e.before, (int)e.after);
        break;
    case SettingsEvent::MARGINS:
        say(h, ": margins %d s early, %d s late\n", e.margins.lead, e.margins.trail);
        break;
    case SettingsEvent::MAPPED:
        say(h, ": source id %X -> %X, reading ends\n", (unsigned)e.before, (unsigned)e.after);
        break;
    case SettingsEvent::NOT_MAPPED:
        say(h, ": a mapping from %X, not the source id %X\n", (unsigned)e.after, (unsigned)e.before);
        break;
    case SettingsEvent::MAPPING_SKIPPED:
        say(h, ": a mapping, not considered: the source id is %X, not above 0\n", (unsigned)e.before);
        break;
    }
}

void name_taken(void* context, const char* candidate, NameTaken why)
{
    CheckNames* names = static_cast<CheckNames*>(context);
    size_t room = sizeof names->reasons - names->len;
    int n = snprintf(names->reasons + names->len, room, "%s%s %s", names->len ? "; " : "", candidate,
                     why == NAME_EXISTS ? "exists" : "is held by another run now");
    if (n >= 0 && (size_t)n < room)
        names->len += (size_t)n;
    else {
        names->reasons[names->len] = '\0';
        names->more++;
    }
}

} // namespace

SettingsTrace check_settings_trace(const Hooks& h)
{
    return SettingsTrace{settings_event, const_cast<Hooks*>(&h)};
}

void check_instance(const Hooks& h, int32_t instance, const char* suffix, bool stop)
{
    char image[IMAGE_NAME_CAP];
    (void)snprintf(image, sizeof image, "zarnivek%s.exe", suffix); // fits: see IMAGE_NAME_CAP
    say(h, "instance number %d: image name %s", (int)instance, image);
    switch (h.image_running(image)) {
    case 1:
        say(h, ", which runs now: %s\n", stop ? "the stop request would end it" : "a run would end it at its launch moment");
        break;
    case 0:
        say(h, ", which does not run now%s\n", stop ? ": the stop request would end nothing" : "");
        break;
    default:
        say(h, "; whether it runs now cannot be told\n");
    }
}

void check_launch(const Hooks& h, const char* window, bool is_window, const LaunchMoment& at)
{
    if (!is_window) {
        say(h, "window text: %s, handed on as given\nlaunch: now, with no wait\n", window);
        return;
    }
    say(h, "window text: %s\n", window);
    LocalTime now = {0, 0, 0};
    h.local_now(&now);
    int from = timing_seconds_of_day(now.hour, now.minute, now.second);
    int to = timing_seconds_of_day(at.hour, at.minute, at.second);
    int left = timing_seconds_ahead(from, to);
    if (timing_wait_step(nullptr, now, at).verdict == WaitStep::GO)
        say(h, "launch: now (the launch moment %02d:%02d:%02d)\n", at.hour, at.minute, at.second);
    else
        say(h, "launch: %s at %02d:%02d:%02d, in %d h %d min%s\n", to > from ? "today" : "tomorrow", at.hour,
            at.minute, at.second, left / 3600, left / 60 % 60,
            to > from ? "" : ", because today's launch minute has passed");
}

void check_names_begin(CheckNames* names, const Hooks& h)
{
    names->trace = NameTrace{name_taken, names};
    names->h = &h;
    names->reasons[0] = '\0';
    names->len = 0;
    names->more = 0;
}

void check_output_name(const CheckNames& names, const char* name, bool fixed)
{
    const Hooks& h = *names.h;
    if (fixed)
        say(h, "output name: %s, used as given (fn)\n", name);
    else if (names.len == 0)
        say(h, "output name: %s\n", name);
    else if (names.more == 0)
        say(h, "output name: %s (%s)\n", name, names.reasons);
    else
        say(h, "output name: %s (%s; and %u more taken)\n", name, names.reasons, names.more);
}
