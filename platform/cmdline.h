// Splitting a command text into words by the Microsoft C runtime's rules, so
// a program started from a command text gets the same argv on every platform.
#pragma once

#include <stddef.h>

/// Splits text into words, stored NUL-terminated in store (capacity store_cap)
/// and pointed to from words[0..n-1], words[n] = nullptr (capacity words_cap).
/// Every word, the program name included, follows the same rules: blanks and
/// tabs separate; '"' groups and is removed; inside a group '""' gives one
/// '"'; 2n backslashes before '"' give n backslashes and the '"' groups, 2n+1
/// give n backslashes and a literal '"'; other backslashes are literal. There
/// is always a first word: a text that is empty or begins with a blank gives
/// an empty one.
///   a "b c" d        ->  a | b c | d
///   a \"b\" c\\"d"   ->  a | "b" | c\d
///   a C:\x\ "y z"    ->  a | C:\x\ | y z
///   " a"  ->  (empty) | a
/// Returns the number of words, or -1 when they do not fit.
int cmdline_split(const char* text, char* store, size_t store_cap, char** words, int words_cap);
