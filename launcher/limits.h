// Capacities of the run's fixed texts, terminating zero included.
#pragma once

#include <stddef.h>

const size_t PROGRAM_DIR_CAP = 256;    // program directory, cut after its last separator
const size_t SETTINGS_PATH_CAP = 512;  // program directory + "quellatorbin.ini"
const size_t SETTINGS_PIECE_CAP = 16;  // one piece of a settings line
const size_t SETTINGS_PIECE_READ = 15; // at most 14 characters plus the zero
const size_t WINDOW_TEXT_CAP = 32;     // time text handed to the capture program
const size_t OUTPUT_NAME_CAP = 512;    // file name handed to the capture program
const size_t COMMAND_TEXT_CAP = 1024;  // stop command, later the capture command line
const size_t SUFFIX_CAP = 2;           // instance suffix: zero or one character
