// Counting the lines of an input file, to size its record table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

// Lines of a file as a 1024-character line reader counts them: a line of
// 1023 characters or more counts once for each 1023 and once more for the
// rest with its line end.  -1 when the file can't be opened.
int64_t count_lines(const char *name);

// A file mapped to be counted stays mapped for its load, when the file
// opened then is the same: its pages are in place by then.
struct KeptMap {
	InputIdentity identity;
	char *buffer = nullptr;
	size_t buffer_size = 0;
};

// count_lines, keeping the file mapped in `keep` when it could be mapped.
int64_t count_and_keep(const char *name, KeptMap *keep);

// Lets go of a kept map that won't be used.
void forget_kept_map(KeptMap &kept);

// The buffer for a file of `size` bytes: the loader runs off the end of
// the data into zeros, and its header search looks as far as byte 2000.
size_t buffer_size_for(uint64_t size);
