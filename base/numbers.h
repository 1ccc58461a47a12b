// Number reading as the formatted scan's %d and %X read numbers, without its
// undefined behaviour on overflow: any count of digits keeps the low 32 bits.
#pragma once

#include <stdint.h>

/// Reads one number from s: optional blanks, an optional sign, for base 16 an
/// optional 0x or 0X, then digits of the base. Stores the value, taken modulo
/// 2^32 and negated for '-', in *value.
/// Returns the first character after the number, or nullptr when none was read.
const char* scan_number(const char* s, int base, int32_t* value);

/// Reads "<n>:<m>" (the scan format "%d:%d") from the start of s.
/// Returns true when both numbers were read.
bool scan_pair(const char* s, char sep, int base, int32_t* first, int32_t* second);
