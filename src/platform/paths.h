// Full paths for the output and log files.
#pragma once

#include <string>

// The absolute path of name from the current directory, with "." and ".."
// resolved as text; the file need not exist.
std::string full_path(const char *name);
