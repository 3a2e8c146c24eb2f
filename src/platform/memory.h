// Regions of zeros for whole input files to be mapped over.
#pragma once

#include <cstddef>

// A read-only region of at least size bytes that reads as zeros, or null
// when the address space can't be had.  Released with unmap_input.
char *allocate_zeroed(size_t size);
