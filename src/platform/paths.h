// Full paths for the output and log files.
#pragma once

#include <string>

// The absolute path of name from the current directory, with "." and ".."
// resolved as text; the file need not exist.  Empty when name is relative
// and the current directory can't be named.
std::string full_path(const char *name);
