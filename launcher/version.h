// The program's version, as the banner, the help and --version give it.
#pragma once

#define QUELLATORBIN_VERSION "0.05"
