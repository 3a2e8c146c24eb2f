// Regions of zeros: for whole input files to be mapped over, and for
// tables that are written at random.
#pragma once

#include <cstddef>

// A read-only region of at least size bytes that reads as zeros, or null
// when the address space can't be had.  Released with unmap_input.
char *allocate_zeroed(size_t size);

// Zero-filled memory with all its pages in place, so that writes to it
// take no faults; null when it can't be had.
void *allocate_populated(size_t size);

void release_populated(void *memory, size_t size);

// Writable zeros that can grow: for a pipe read whole.  Null when they
// can't be had.  Released with unmap_input.
char *allocate_growable(size_t size);

// The region of `size` bytes at `at` grown to new_size bytes, zeros after
// what it held, moved when it can't grow where it is; null when it can't
// be had, the region then left as it was.
char *grow_region(char *at, size_t size, size_t new_size);

void make_read_only(char *at, size_t size);
