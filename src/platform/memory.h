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
