// Zero-filled buffers for whole input files.
#pragma once

#include <cstddef>

// A zero-filled buffer of at least size bytes, or null when the memory
// can't be had.
char *allocate_zeroed(size_t size);

void release_zeroed(char *buffer, size_t size);
