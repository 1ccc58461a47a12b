// Splitting a command text into words by the Microsoft C runtime's rules, so
// a program started from a command text gets the same argv on every platform.
#pragma once

#include <stddef.h>

/// Splits text into words, stored NUL-terminated in store (capacity store_cap)
/// and pointed to from words[0..n-1], words[n] = nullptr (capacity words_cap).
/// The first word ends at a blank or tab; a '"' there groups and is removed.
/// Later words: blanks and tabs separate; '"' groups and is removed; inside a
/// group '""' gives one '"'; 2n backslashes before '"' give n backslashes and
/// the '"' groups, 2n+1 give n backslashes and a literal '"'; other
/// backslashes are literal.
///   a "b c" d        ->  a | b c | d
///   a \"b\" c\\"d"   ->  a | "b" | c\d
///   a C:\x\ "y z"    ->  a | C:\x\ | y z
/// Returns the number of words, or -1 when they do not fit.
int cmdline_split(const char* text, char* store, size_t store_cap, char** words, int words_cap);
