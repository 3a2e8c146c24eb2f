// Input files: opened once, sized, mapped whole, closed.
#pragma once

#include <cstddef>
#include <cstdint>

// Opens a regular file for reading; -1 when it can't be opened or is not a
// regular file (a directory or a FIFO would hang or fail later).
int open_input(const char *name);

// The size in bytes of an open file.
uint64_t input_size(int handle);

// What tells a file from another file, and from itself once changed.
struct InputIdentity {
	uint64_t device = 0;
	uint64_t inode = 0;
	uint64_t size = 0;
	int64_t modified_seconds = 0;
	int64_t modified_nanoseconds = 0;
	// A write that keeps the modification time (touch -r) still moves the
	// change time.
	int64_t changed_seconds = 0;
	int64_t changed_nanoseconds = 0;
};
InputIdentity identify_input(int handle);
bool same_input(const InputIdentity &a, const InputIdentity &b);

// Reads up to size bytes into buffer from the file position on, looping
// until all are read or the file ends; the number read, or -1 on a read
// error.
int64_t read_input(int handle, char *buffer, uint64_t size);

// Places the first size bytes of the file, read-only, at `at`: the start of
// a region from allocate_zeroed, which must be larger than size.  False
// when the file can't be read that way.  Pages the file loses while mapped
// (it shrank, or the disk failed) read as zeros from then on.
bool map_input(int handle, char *at, uint64_t size);

// Whether the file mapped at `at` lost pages while they were read.
bool input_lost(const char *at);

// Releases the region of `size` bytes at `at`, the file mapped there
// included.
void unmap_input(char *at, size_t size);

void close_input(int handle);
