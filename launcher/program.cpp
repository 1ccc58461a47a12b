// The front door: what the arguments ask for decides between the help, the
// version, the check and a run.
#include "launcher/program.h"

#include "launcher/args.h"
#include "launcher/check.h"
#include "launcher/run.h"
#include "launcher/version.h"

namespace {

const char VERSION[] = "quellatorbin " QUELLATORBIN_VERSION "\n";

const char HELP[] =
    "quellatorbin " QUELLATORBIN_VERSION ": starts a capture program for one recording\n"
    "\n"
    "usage: quellatorbin FILE @SOURCE TIME [Inumber] [fn]\n"
    "       quellatorbin stop [Inumber]\n"
    "       quellatorbin <the arguments of a run> --check   (or /check)\n"
    "       quellatorbin --help | --version\n"
    "\n"
    "Starts the capture program zarnivek<n>.exe next to this program for one\n"
    "recording, after waiting until 20 s before the window opens. Arguments are\n"
    "recognised by their form, in any order:\n"
    "  FILE      any argument holding a '.': the output file; an existing file is\n"
    "            never overwritten (rec.ts becomes rec(1).ts), unless 'fn' is given\n"
    "  @SOURCE   source id in hex, e.g. @400\n"
    "  TIME      HH:MM-HH:MM (wait, then record that window), or any text that\n"
    "            begins with a digit and holds no ':', handed on unchanged\n"
    "  Inumber   instance number: uses zarnivek<number>.exe\n"
    "  fn        use the output file name unchanged\n"
    "  stop      only end the running capture instance of the chosen number\n"
    "\n"
    "Settings file quellatorbin.ini, next to this program (required), lines:\n"
    "  I<n>         subtract n from the instance number\n"
    "  M<lead>,<trail>  seconds (0 to 30) the window opens early / closes late\n"
    "  @<from>,<to> replace source id <from> by <to> (hex); the first match wins\n"
    "\n"
    "--check (or /check), anywhere among the arguments, shows what a run with\n"
    "the other arguments, started now, would do: the settings lines that act,\n"
    "the instance and whether it runs, the capture program, the local time and\n"
    "the launch, the output name and its directory, and the capture command\n"
    "line. It waits for, ends and starts nothing. Status 0; 1 with the message\n"
    "a run would refuse with; 2 when a line says 'problem:', something that\n"
    "would keep the recording from being made.\n"
    "--help (or -h, /?) anywhere shows this text, and --version the version;\n"
    "neither does anything else.\n"
    "\n"
    "Exit status: the capture program's own; 1 when the run ends early (missing\n"
    "settings file, missing or bad argument, stop request).\n";

// The record of a run: kept out of the stack, as the check's is.
RunRecord run_record;

} // namespace

int launcher_run(int argc, const char* const* argv, const Platform& os)
{
    switch (args_mode(argc, argv)) {
    case MODE_HELP:
        os.write_out(HELP, sizeof HELP - 1);
        return 0;
    case MODE_VERSION:
        os.write_out(VERSION, sizeof VERSION - 1);
        return 0;
    case MODE_CHECK:
        return check_run(argc, argv, os);
    case MODE_RUN:
        break;
    }
    return run_sequence(argc, argv, os, &run_record);
}
