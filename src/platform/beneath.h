// Opening a file under a directory without following a symbolic link on
// the way: a tree that changes while it is read can't lead out of itself.
#pragma once

// Opens relative (a path below dir_fd, without "..") with flags, failing
// with ELOOP when any of its components, the last included, is a symbolic
// link.  -1 with errno set on failure.
int open_beneath(int dir_fd, const char *relative, int flags);

// Opens a directory, or a file for reading, with open_beneath.  A file is
// opened so that a FIFO or a device put in its place never blocks the
// open nor becomes the controlling terminal.
int open_directory_beneath(int dir_fd, const char *relative);
int open_file_beneath(int dir_fd, const char *relative);
