// Fresh temporary directories for the tests that touch real files, on Linux
// and on Windows alike.
#pragma once

#include <string>

/// Creates a new empty directory and returns its path, ending with the
/// separator ('/' or '\'); an empty text when it cannot be created.
std::string temp_dir_make();

/// Removes a file; removes an empty directory.
void temp_remove_file(const std::string& path);
void temp_remove_dir(const std::string& dir);
