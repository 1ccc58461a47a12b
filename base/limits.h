// Capacities of the run's fixed texts, terminating zero included. Each text
// of a run has its capacity named here once; a sum that proves a text always
// fits stands as a static_assert next to the code that forms it.
#pragma once

#include <stddef.h>

const size_t PROGRAM_PATH_QUERY = 255; // the program's path is asked for in this many bytes
const size_t PROGRAM_DIR_CAP = 256;    // program directory, cut after its last separator
const size_t SETTINGS_PATH_CAP = 512;  // program directory + the settings file's name
const size_t SETTINGS_PIECE_CAP = 16;  // one piece of a settings line
const size_t SETTINGS_PIECE_READ = 15; // at most 14 characters plus the zero
const size_t WINDOW_TEXT_CAP = 32;     // time text handed to the capture program
const size_t OUTPUT_NAME_CAP = 512;    // file name handed to the capture program
const size_t COMMAND_TEXT_CAP = 1024;  // stop command, later the capture command line
const size_t SUFFIX_CAP = 2;           // instance suffix: zero or one character
const size_t IMAGE_NAME_CAP = 16;      // "zarnivek", the suffix, ".exe"
const size_t MESSAGE_CAP = 1200;       // one message on standard output
const size_t QUOTE_MAX = 300;          // characters of an argument that a message quotes
const size_t REASON_CAP = 160;         // why the system refused something ("Permission denied")

// The longest message is the echoed capture command line and its line feed;
// a message that quotes an argument cuts it at QUOTE_MAX characters and adds
// far less than 200 of its own.
static_assert(COMMAND_TEXT_CAP - 1 + 1 < MESSAGE_CAP, "the echoed command line fits a message");
static_assert(QUOTE_MAX + SETTINGS_PATH_CAP + 200 < MESSAGE_CAP, "a message quoting an argument fits");
static_assert(PROGRAM_PATH_QUERY <= PROGRAM_DIR_CAP, "the program directory fits its text");
static_assert(sizeof "zarnivek" - 1 + SUFFIX_CAP - 1 + sizeof ".exe" <= IMAGE_NAME_CAP, "an image name fits");
