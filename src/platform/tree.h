// Walking a directory tree and reading its files: what rowsift-list asks
// of the file system, with no descriptor kept longer than a directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

// The text of a symbolic link; false with errno set on failure.
bool read_link(const char *path, std::string &text);
// The text of the symbolic link name in the directory open on dir_fd.
bool read_link_at(int dir_fd, const char *name, std::string &text);

// Opens a directory, following a symbolic link that names it; -1 with
// errno set on failure.
int open_directory(const char *path);

// Whether the directory open on fd lies on one of the kernel's own file
// systems (/proc, /sys and the like): their files claim sizes they don't
// hold, or hold no end, and reading some has effects.
bool on_kernel_file_system(int fd);

// The entries of a directory, "." and ".." left out.  The directory's
// descriptor belongs to the reader from open_entries on, even when it
// fails.
struct DirectoryReader {
	void *stream = nullptr;
};

struct DirectoryEntry {
	const char *name;	// valid until the next entry is read
	FileKind kind;
	bool kind_known;	// false: the file system doesn't say
};

bool open_entries(DirectoryReader &reader, int fd);
// The next entry; false at the end, with errno set when reading failed.
bool next_entry(DirectoryReader &reader, DirectoryEntry &entry);
void close_entries(DirectoryReader &reader);

// Tells the kernel the file will be read from start to end once.
void advise_sequential(int fd);

// Reads up to size bytes, a read cut by a signal taken up again: the
// number read, 0 at the end, -1 with errno set on failure.
int64_t read_some(int fd, char *buffer, size_t size);

void close_file(int fd);
