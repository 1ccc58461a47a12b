// The key that names an output name's reservation, formed by each
// platform's reservation code (posix_reservation.cpp, platform_win32.cpp).
#pragma once

#include <stddef.h>

const size_t RESERVATION_KEY_CAP = 260;

/// Forms the key of an output name's reservation into key (capacity
/// key_cap): the identity of its directory (Linux: device and inode
/// numbers; Windows: volume serial number and file index), which every
/// route to the directory shares, and the file's own name (upper-cased on
/// Windows, where letter case does not matter); a hash of that where it does
/// not fit the object's name. On Linux a name that is a symbolic link (a
/// dangling one too) is keyed by what it points to. False, and no key, when
/// the directory does not exist (why empty: no file can be created there),
/// on Windows for a name that is a link (which the status query finds,
/// however it dangles), or when the directory cannot be found (why says why).
bool reservation_key(const char* name, char* key, size_t key_cap, char* why, size_t why_cap);
