// What the Linux platform files share among themselves: the operations each
// file adds to the table (platform_posix.cpp fills it), the reservation a
// started capture program inherits, and the text of an error number.
#pragma once

#include "platform/platform.h"

#include <stddef.h>

// posix_program.cpp: whether a file is a program this system can start (the
// table's can_run).
bool posix_can_run(const char* path, char* why, size_t why_cap);

// posix_processes.cpp: the process table (/proc).
ImageState posix_image_state(const char* image, char* why, size_t why_cap);
StopResult posix_end_image(const char* image, int* ended, char* why, size_t why_cap);

// posix_command.cpp: a command text, split as the Microsoft C runtime
// splits it, started directly.
int posix_run_command(const Platform& os, const char* text);

// posix_reservation.cpp: output name reservations (abstract Unix sockets).
Reservation posix_reserve_name(const char* name, char* why, size_t why_cap);
void posix_release_name();
/// The descriptors of the reservation this run holds, i = 0 and 1 (its
/// path key's, its identity key's): -1 where none.
int posix_held_reservation(int i);

/// Pauses for ms milliseconds (the table's sleep_ms).
void posix_sleep_ms(unsigned ms);

/// Writes the text of the error number err into why (capacity why_cap).
void posix_error_text(int err, char* why, size_t why_cap);

/// Opens path with flags (no O_CREAT), made again when a signal cuts it
/// short: a descriptor, or -1 with errno set.
int posix_open(const char* path, int flags);

/// Reads fd from where it stands into buf (capacity cap >= 1) until cap - 1
/// bytes are read or the file ends, and ends them with a zero: the count,
/// or -1 with errno set. A read cut short by a signal, or one that gives
/// fewer bytes than asked, is followed by another.
long posix_read_all(int fd, char* buf, size_t cap);
