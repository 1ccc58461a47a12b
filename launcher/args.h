// The invocation record: what the program is asked to do, and what each
// command-line argument of a run was taken for.
#pragma once

#include <stdint.h>

/// What the arguments ask of the program. A switch anywhere among them
/// decides, in this order, compared without regard to ASCII case:
/// "--help", "-h", "-?", "/?" or "/h" the help; "--version" the version;
/// "--check" or "/check" a check of the run the other arguments describe.
/// Otherwise they describe a run.
enum Mode { MODE_RUN, MODE_CHECK, MODE_HELP, MODE_VERSION };

Mode args_mode(int argc, const char* const* argv);

/// Classified arguments. Positions number the run's arguments from 1 (0 =
/// none), the check's switches not counted, so a check names the positions
/// the run would; the indexes say where those arguments stand in argv.
/// source_id and instance hold the numbers read from their arguments.
struct Invocation {
    int32_t file_pos;       // argument holding a '.': the output file
    int32_t source_id;      // "@<hex>"; 0 = none or unreadable
    int32_t instance;       // "I<dec>"; 0 = none or unreadable
    int32_t time_pos;       // argument starting with a digit: the time argument
    int32_t stop_pos;       // argument starting with "stop" (any case): a stop request
    int32_t fixed_name_pos; // argument starting with "fn" (any case): the name is used as given
    int file_index, time_index; // where the file and time arguments stand in argv
};

/// Classifies argv[1..argc-1] by form (the last argument of a kind wins), then
/// reads the numbers after '@' (hex) and 'I' (decimal). Never alters argv.
///   rec.ts @400 I2 21:00-21:30  ->  file 1, source 0x400, instance 2, time 4
///   rec.ts --check 2100         ->  file 1, time 2 (at index 3)
///   @1.5 / 21:00.ts              ->  file (the '.' test comes first)
///   0x12                         ->  time; i2, sto -> ignored; STOP, fname -> stop, fixed
///   @-1 -> 0xFFFFFFFF; @123456789 -> 0x23456789; @zz -> 0; Ix -> 0
Invocation args_classify(int argc, const char* const* argv);
