// The program's version, as the banner, the help and --version give it.
#pragma once

// A macro: it is joined into the literals of the banner and the help.
#define QUELLATORBIN_VERSION "0.05" // NOLINT(cppcoreguidelines-macro-usage)
