// The keys that name an output name's reservation, formed by each platform's
// reservation code (posix_reservation.cpp, win32_reservation.cpp).
#pragma once

#include <stddef.h>

const size_t RESERVATION_KEY_CAP = 260;

/// The keys of one output name, each a text of at most the object name's
/// length on that platform: "quellatorbin:<what it stands for>", or where
/// that is too long "quellatorbin#<hash>" (text_object_name, base/text.h).
struct ReservationKeys {
    char path[RESERVATION_KEY_CAP];     // the name's full path, made absolute
    char identity[RESERVATION_KEY_CAP]; // its directory's identity and its own name
};

/// Which keys could be formed.
enum KeysFormed {
    KEYS_BOTH,      // path and identity
    KEYS_PATH_ONLY, // the directory does not exist (yet): no identity to key it by
    KEYS_UNKNOWN,   // no key could be formed (why)
};

/// Forms the keys of an output name into *keys. The path key is the name's
/// full path, made absolute (from the current directory) with "." parts
/// and repeated separators taken out, ".." taken as the part before it
/// (upper-cased on Windows): two runs given one spelling in one current
/// directory share it, whether or not the directory exists. The identity
/// key is the identity of the directory (Linux: device and inode numbers;
/// Windows: volume serial number and file index), which every route to it
/// shares (a link, a bind mount, a share under two names), and the file's
/// own name (upper-cased on Windows, where letter case does not matter);
/// the name itself is never followed, so a name that is a link is keyed
/// as a name of its directory.
KeysFormed reservation_keys(const char* name, ReservationKeys* keys, char* why, size_t why_cap);
