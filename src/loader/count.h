// Counting the lines of an input file, to size its record table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"
#include "run_state.h"

// Lines of a file as a 1024-character line reader counts them: a line of
// 1023 characters or more counts once for each 1023 and once more for the
// rest with its line end.  -1 when the file can't be opened.
int64_t count_lines(const char *name);

// How the read of a pipe or FIFO ended.
enum class StreamEnd { whole, too_large, no_memory, failed, stopped };

// A file mapped to be counted stays mapped for its load, when the file
// opened then is the same: its pages are in place by then.  A pipe or a
// FIFO can be read only once: it is read whole as it is counted, and kept
// open with what was read (identity.size) for its load, which reports how
// the read ended.
struct KeptMap {
	FileStatus identity;
	char *buffer = nullptr;
	size_t buffer_size = 0;
	int stream_handle = -1;
	StreamEnd stream_end = StreamEnd::whole;
	LineEnds lines;		// of a file mapped to be counted
};

// count_lines, keeping the file mapped in `keep` when it could be mapped.
int64_t count_and_keep(const char *name, KeptMap *keep);

// The largest input that can be loaded.
constexpr uint64_t largest_input = 0xffffffff;

// Reads the open pipe or FIFO whole into keep, as far as `largest` bytes
// and one more to tell it too large, and counts its lines as they come.
// The count of a read that did not end whole is 0.
int64_t count_stream(int handle, KeptMap &keep, uint64_t largest);

// The blocks of bytes a count takes at a time: the widest the processor
// can, or sixteen bytes.
enum class BlockWidth { widest, sixteen };

// Counts the lines of the n bytes at data as count_lines does, noting
// where they end in `lines` (left without ends when memory for them runs
// out).  The 64 bytes past n must be readable zeros, as a buffer's are.
int64_t count_noting_line_ends(const char *data, size_t n, LineEnds &lines,
    BlockWidth width = BlockWidth::widest);

void forget_line_ends(LineEnds &lines);

// Lets go of a kept map that won't be used.
void forget_kept_map(KeptMap &kept);

// The buffer for a file of `size` bytes: the loader runs off the end of
// the data into zeros, and its header search looks as far as byte 2000.
size_t buffer_size_for(uint64_t size);
