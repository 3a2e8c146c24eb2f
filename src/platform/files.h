// Input files: opened once, sized, mapped whole, closed.  A pipe or a
// FIFO, which can't be mapped, is read whole into memory of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/status.h"

// Opens a regular file, a pipe or a FIFO for reading; -1 when it can't be
// opened or is anything else (a directory, a device).  A FIFO is opened
// without waiting for a writer: its first read waits for one.
int open_input(const char *name);

// Whether the name is a pipe or a FIFO now.  Looked at without opening
// it: a writer waiting to open a FIFO would go on at an open, and fail
// once it closed.
bool names_stream(const char *name);

// Whether both names are one pipe or FIFO, which only one can read.
bool same_stream(const char *a, const char *b);

// The size in bytes of an open file.
uint64_t input_size(int handle);

// The status of an open input, all zeros when it can't be had.
FileStatus identify_input(int handle);
// Whether two statuses are of one file in one state.
bool same_input(const FileStatus &a, const FileStatus &b);
// A pipe or a FIFO: read once, never mapped, and nothing can change what
// was read of it.
bool is_stream(const FileStatus &status);

// Reads up to size bytes into buffer from the file position on, looping
// until all are read or the file ends; the number read, or -1 on a read
// error.
int64_t read_input(int handle, char *buffer, uint64_t size);

// A pipe or a FIFO read whole into writable memory of its own: the data,
// then zeros, as a file's pages are mapped over a region of zeros.
struct StreamData {
	char *buffer = nullptr;
	size_t buffer_size = 0;		// of the region, at least 4096
	uint64_t size = 0;		// read so far
};

enum class StreamRead { more, ended, failed, no_memory, stopped };

// Reads what the stream has next, at most `most` bytes (more than 0),
// onto the end of the data, first growing its region so that at least
// 1024 zero bytes follow the data.  A FIFO that no writer has opened yet
// is waited on as long as it takes, as any reader of a FIFO waits;
// stopped when a stop signal came meanwhile.
StreamRead read_stream(int handle, StreamData &data, uint64_t most);

// Lets the data be read only, as a mapped file is, once it is all there.
void seal_stream(const StreamData &data);

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
