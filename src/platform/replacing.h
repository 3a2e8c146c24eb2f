// Writing a file under a hidden name beside its own and renaming it into
// place when complete, so that a failed or interrupted run never leaves
// half a file under the name.
#pragma once

#include <cstddef>
#include <string>

// Creates a new file from the pattern, whose last six characters are
// "XXXXXX" and become a unique name, with the permissions a new file gets
// under the process's umask.  The descriptor, or -1 with errno set; *name
// is the name made.
int create_hidden_file(const std::string &pattern, std::string *name);

// From now on the named file is removed when a signal ends the process or
// remove_hidden_file is called; an empty name forgets it.  False when the
// name is too long to keep.
bool remove_on_ending(const std::string &name);

// Removes the file remove_on_ending named, if any.  Safe in a signal
// handler.
void remove_hidden_file();

// Writes all n bytes, a write cut by a signal taken up again; false with
// errno set on failure.
bool write_all(int fd, const char *data, size_t n);

// Gets the file's bytes to the disk and closes it; false with errno set
// when either fails.
bool sync_and_close(int fd);

// Gives the file at `from` the name `to`, in one step; false with errno
// set on failure.
bool rename_file(const std::string &from, const std::string &to);
