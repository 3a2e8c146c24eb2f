// Full paths for the output and log files.
#pragma once

#include <string>

// The absolute path of name from the current directory, with "." and ".."
// resolved as text; the file need not exist.  Empty when name is relative
// and the current directory can't be named.
std::string full_path(const char *name);

// The full name of an existing file as the system resolves it: `shown`
// (a full name made of the text of `name`) when that is the same file,
// else the name with every link and ".." resolved.  `shown` when the
// file can't be found.
std::string resolved_path(const char *name, const std::string &shown);
