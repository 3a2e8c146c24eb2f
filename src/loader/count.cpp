#include "loader/count.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/memory.h"

// One read of the line reader returns at most this many characters.
static const uint64_t line_read_limit = 1023;

// The lines of the line reader, which returns at most line_read_limit
// characters at a time, counted block by block.
struct LineCount {
	int64_t lines = 0;
	uint64_t line_length = 0;	// of the line the last block ended in
};

// The data is fetched a page ahead of the count: the processor's own
// prefetching stops at the end of every page.
static const size_t count_ahead = 4096;

static void
count_block(LineCount &count, const char *p, const char *end)
{
	while (p < end) {
		__builtin_prefetch(p + count_ahead);
		auto *lf = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
		if (!lf) {
			count.line_length += uint64_t(end - p);
			return;
		}
		count.line_length += uint64_t(lf - p);
		count.lines += int64_t(count.line_length / line_read_limit) + 1;
		count.line_length = 0;
		p = lf + 1;
	}
}

static int64_t
lines_counted(const LineCount &count)
{
	return count.lines + int64_t((count.line_length + line_read_limit - 1) / line_read_limit);
}

static void
count_by_reading(LineCount &count, int fd)
{
	std::vector<char> block(1 << 20);
	int64_t got;
	while ((got = read_input(fd, block.data(), block.size())) > 0)
		count_block(count, block.data(), block.data() + got);
}

// How a read that ended short of the whole stream ended.
static StreamEnd
stream_end_of(StreamRead step)
{
	switch (step) {
	case StreamRead::no_memory:
		return StreamEnd::no_memory;
	case StreamRead::stopped:
		return StreamEnd::stopped;
	default:
		return StreamEnd::failed;
	}
}

int64_t
count_stream(int handle, KeptMap &keep, uint64_t largest)
{
	StreamData data;
	LineCount count;
	keep.stream_handle = handle;
	keep.stream_end = StreamEnd::whole;
	for (;;) {
		uint64_t before = data.size;
		StreamRead step = read_stream(handle, data, largest + 1 - data.size);
		if (step == StreamRead::ended)
			break;
		if (step != StreamRead::more) {
			keep.stream_end = stream_end_of(step);
			break;
		}
		// Counted while the block is still in the cache.
		count_block(count, data.buffer + before, data.buffer + data.size);
		if (data.size > largest) {
			keep.stream_end = StreamEnd::too_large;
			break;
		}
	}
	keep.identity.size = data.size;
	if (keep.stream_end != StreamEnd::whole) {
		unmap_input(data.buffer, data.buffer_size);
		return 0;
	}
	seal_stream(data);
	keep.buffer = data.buffer;
	keep.buffer_size = data.buffer_size;
	return lines_counted(count);
}

size_t
buffer_size_for(uint64_t size)
{
	return size + 1024 < 4096 ? 4096 : size_t(size) + 1024;
}

int64_t
count_and_keep(const char *name, KeptMap *keep)
{
	int fd = open_input(name);
	if (fd < 0)
		return -1;
	InputIdentity identity = identify_input(fd);
	if (identity.stream) {
		KeptMap stream;
		KeptMap &kept = keep ? *keep : stream;
		kept.identity = identity;
		int64_t lines = count_stream(fd, kept, largest_input);
		if (!keep) {
			forget_kept_map(stream);
			close_input(fd);
		}
		return lines;
	}
	LineCount count;
	size_t region = buffer_size_for(identity.size);
	char *data = allocate_zeroed(region);
	// Mapped, the file is counted at the speed of memory; a file that
	// can't be mapped (the address space is short) is read in blocks.
	if (data && map_input(fd, data, identity.size)) {
		count_block(count, data, data + identity.size);
		if (keep) {
			keep->identity = identity;
			keep->buffer = data;
			keep->buffer_size = region;
			data = nullptr;
		}
	} else {
		count_by_reading(count, fd);
	}
	unmap_input(data, region);
	close_input(fd);
	return lines_counted(count);
}

int64_t
count_lines(const char *name)
{
	return count_and_keep(name, nullptr);
}

void
forget_kept_map(KeptMap &kept)
{
	unmap_input(kept.buffer, kept.buffer_size);
	kept.buffer = nullptr;
}

