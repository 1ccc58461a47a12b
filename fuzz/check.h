// Property checks for the fuzz targets: a failed check names itself and
// aborts, and libFuzzer keeps the input that caused it.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(cond)                                                                          \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond);           \
            abort();                                                                              \
        }                                                                                         \
    } while (0)
