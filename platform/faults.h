// The fault table below the seam: every system call a platform file makes
// goes through one row of it, {name, current, original}. A test swaps a row
// for a function of the same type that fails when it chooses, and puts the
// system's own back with null (docs/hardening.md). The table is there in
// every build: an indirect call costs nothing beside a system call.
#pragma once

#include <stddef.h>

/// A row's function, as stored; each row is called through its own type.
typedef void (*SystemCallPtr)(void);

/// The name of row i (0, 1, ...), nullptr past the last.
const char* faults_row(size_t i);

/// The system's own function of the row named name; nullptr for no such row.
SystemCallPtr faults_original(const char* name);

/// Makes every call of the row named name go to f; a null f puts the
/// system's own back. False for no such row.
bool faults_set(const char* name, SystemCallPtr f);
