// What the Linux platform files share among themselves: the built-in
// taskkill, the reservation a started capture program inherits, and the
// text of an error number.
#pragma once

#include <stddef.h>

/// "taskkill /F /IM <image>" (words[0..n-1]; other words are passed over):
/// SIGKILL to every other process of that image name. 0 when it ended each
/// one it found, 128 when none runs, 1 when one could not be ended or the
/// process table could not be read, or for a command it does not understand.
int posix_taskkill(char** words, int n);

/// The descriptor of the output name's reservation this run holds, -1 when none.
int posix_held_reservation();

/// Writes the text of the error number err into why (capacity why_cap).
void posix_error_text(int err, char* why, size_t why_cap);
