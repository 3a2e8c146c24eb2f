// Input files: opened once, sized, read whole, closed.
#pragma once

#include <cstddef>
#include <cstdint>

// Opens a regular file for reading; -1 when it can't be opened or is not a
// regular file (a directory or a FIFO would hang or fail later).
int open_input(const char *name);

// The size in bytes of an open file.
uint64_t input_size(int handle);

// Reads up to size bytes into buffer, looping until all are read or the
// file ends; the number read, or -1 on a read error.
int64_t read_input(int handle, char *buffer, uint64_t size);

void close_input(int handle);
