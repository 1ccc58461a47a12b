// What the Windows platform files share among themselves: the operations
// each file adds to the table (platform_win32.cpp fills it), the reservation
// a started capture program inherits, names in UTF-16, and the text of an
// error number.
#pragma once

#include "platform/platform.h"

#include <windows.h>

#include <stddef.h>

// A name in UTF-16: GetFullPathNameW and the wide functions, unlike the
// ANSI ones, are not kept to MAX_PATH characters.
const size_t WIDE_PATH_CAP = 2048;

// win32_names.cpp: the names the system stores, in the ANSI code page.
StoredName win32_file_argument(int argc, const char* const* argv, int pos, char* out, size_t out_cap, char* why,
                               size_t why_cap);
bool win32_can_store(const char* name, char* why, size_t why_cap);
OutputDir win32_output_dir(const char* name, char* dir);
size_t win32_encode_char(uint32_t code_point, char (&out)[4]);

// win32_files.cpp: files, through the C runtime and the wide functions.
FileStatus win32_file_status(const char* path, char* why, size_t why_cap);
int win32_open_regular(const char* path, char* why, size_t why_cap);
long win32_read(int fd, char* buf, size_t cap, char* why, size_t why_cap);
void win32_close(int fd);
bool win32_can_run(const char* path, char* why, size_t why_cap);
bool win32_can_create_in(const char* dir, char* why, size_t why_cap);

// win32_processes.cpp: the process table (a Toolhelp snapshot).
ImageState win32_image_state(const char* image, char* why, size_t why_cap);
StopResult win32_end_image(const char* image, int* ended, char* why, size_t why_cap);

// win32_command.cpp: a command text, through cmd.exe or started directly.
int win32_run_command(const Platform& os, const char* text);

// win32_reservation.cpp: output name reservations (named mutexes).
Reservation win32_reserve_name(const char* name, char* why, size_t why_cap);
void win32_release_name();
/// The mutexes of the reservation this run holds, i = 0 and 1 (its path
/// key's, its identity key's): null where none.
HANDLE win32_held_reservation(int i);

/// True when c is the first byte of a double-byte character of the ANSI
/// code page (the table's is_lead_byte).
bool win32_is_lead_byte(unsigned char c);

/// Writes the system's text for an error number of GetLastError into why
/// (capacity why_cap), in one line.
void win32_error_text(DWORD err, char* why, size_t why_cap);

/// name in UTF-16, from the ANSI code page, in a buffer that the next call
/// writes over; null (GetLastError tells why) when it cannot be converted.
const wchar_t* win32_wide(const char* name);
