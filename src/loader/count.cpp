#include "loader/count.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <immintrin.h>
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

void
forget_line_ends(LineEnds &lines)
{
	free(lines.ends);
	free(lines.odd);
	lines = LineEnds();
}

// Room for one more entry in a table of line numbers or offsets, doubled
// when full; false when memory ran out.
static bool
make_room(uint32_t *&entries, uint64_t used, uint64_t &capacity)
{
	if (used < capacity)
		return true;
	uint64_t more = capacity ? capacity * 2 : 1024;
	void *p = realloc(entries, more * sizeof *entries);
	if (!p)
		return false;
	entries = static_cast<uint32_t *>(p);
	capacity = more;
	return true;
}

// Notes the line from start to the LF at end; false when the ends can't
// be noted for want of memory, which leaves every line to be cut byte by
// byte.
static bool
note_line_end(LineEnds &lines, const char *data, size_t start, size_t end, bool odd)
{
	bool cr_lf = end > start && data[end - 1] == '\r';
	if (lines.count == 0)
		lines.cr_lf = cr_lf;
	odd |= cr_lf != lines.cr_lf;
	if (!make_room(lines.ends, lines.count, lines.capacity) ||
	    (odd && !make_room(lines.odd, lines.odd_count, lines.odd_capacity))) {
		forget_line_ends(lines);
		return false;
	}
	if (odd)
		lines.odd[lines.odd_count++] = uint32_t(lines.count);
	lines.ends[lines.count++] = uint32_t(end);
	return true;
}

// A scan of the lines that notes where they end.
struct LineScan {
	LineCount count;
	size_t start = 0;	// of the line the scan is in
	bool odd = false;	// a mark was seen in it so far
	bool noting = true;
};

// Takes the block at p: a bit of `ends` for each LF in it, of `marks`
// for each byte no plain record holds there.
static inline void
take_block(LineScan &scan, LineEnds &lines, const char *data, size_t p, uint64_t ends,
    uint64_t marks)
{
	for (; ends; ends &= ends - 1) {
		unsigned bit = unsigned(__builtin_ctzll(ends));
		size_t end = p + bit;
		bool odd = scan.odd || (marks & ((uint64_t(1) << bit) - 1)) != 0;
		marks &= ~((uint64_t(2) << bit) - 1);
		scan.odd = false;
		scan.count.lines += int64_t((end - scan.start) / line_read_limit) + 1;
		if (scan.noting)
			scan.noting = note_line_end(lines, data, scan.start, end, odd);
		scan.start = end + 1;
	}
	scan.odd |= marks != 0;
}

// The bits of a block's first `left` bytes, all of them from 64 bytes on.
static inline uint64_t
bits_within(size_t left)
{
	return left >= 64 ? ~uint64_t(0) : (uint64_t(1) << left) - 1;
}

// The marks are a zero byte, a CR not followed by LF and the first of
// two dashes; the byte after each is read from the next position on.
static void
scan_sixteen_at_a_time(LineScan &scan, LineEnds &lines, const char *data, size_t n)
{
	const __m128i lf = _mm_set1_epi8('\n');
	const __m128i cr = _mm_set1_epi8('\r');
	const __m128i dash = _mm_set1_epi8('-');
	const __m128i zero = _mm_setzero_si128();
	for (size_t p = 0; p < n; p += 16) {
		__builtin_prefetch(data + p + count_ahead);
		__m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + p));
		__m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + p + 1));
		__m128i marked = _mm_or_si128(_mm_cmpeq_epi8(b, zero),
		    _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(next, lf), _mm_cmpeq_epi8(b, cr)),
		    _mm_and_si128(_mm_cmpeq_epi8(b, dash), _mm_cmpeq_epi8(next, dash))));
		uint64_t ends = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(b, lf)));
		uint64_t marks = uint32_t(_mm_movemask_epi8(marked));
		if ((ends | marks) == 0)
			continue;
		uint64_t within = bits_within(n - p);
		take_block(scan, lines, data, p, ends & within, marks & within);
	}
}

// The same, 32 bytes at a time, where the processor can.
__attribute__((target("avx2"))) static void
scan_thirty_two_at_a_time(LineScan &scan, LineEnds &lines, const char *data, size_t n)
{
	const __m256i lf = _mm256_set1_epi8('\n');
	const __m256i cr = _mm256_set1_epi8('\r');
	const __m256i dash = _mm256_set1_epi8('-');
	const __m256i zero = _mm256_setzero_si256();
	for (size_t p = 0; p < n; p += 32) {
		__builtin_prefetch(data + p + count_ahead);
		__m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + p));
		__m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + p + 1));
		__m256i marked = _mm256_or_si256(_mm256_cmpeq_epi8(b, zero),
		    _mm256_or_si256(_mm256_andnot_si256(_mm256_cmpeq_epi8(next, lf),
		    _mm256_cmpeq_epi8(b, cr)),
		    _mm256_and_si256(_mm256_cmpeq_epi8(b, dash), _mm256_cmpeq_epi8(next, dash))));
		uint64_t ends = uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b, lf)));
		uint64_t marks = uint32_t(_mm256_movemask_epi8(marked));
		if ((ends | marks) == 0)
			continue;
		uint64_t within = bits_within(n - p);
		take_block(scan, lines, data, p, ends & within, marks & within);
	}
}

// Most blocks hold neither an LF nor a mark, and a line's own bytes are
// not read again to cut it.
int64_t
count_noting_line_ends(const char *data, size_t n, LineEnds &lines, BlockWidth width)
{
	forget_line_ends(lines);
	lines.size = n;
	LineScan scan;
	if (width == BlockWidth::widest && __builtin_cpu_supports("avx2"))
		scan_thirty_two_at_a_time(scan, lines, data, n);
	else
		scan_sixteen_at_a_time(scan, lines, data, n);
	scan.count.line_length = n - scan.start;
	return lines_counted(scan.count);
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
	keep.identity.size = int64_t(data.size);
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
	FileStatus identity = identify_input(fd);
	if (is_stream(identity)) {
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
	int64_t lines = -1;
	uint64_t size = uint64_t(identity.size);
	size_t region = buffer_size_for(size);
	char *data = allocate_zeroed(region);
	// Mapped, the file is counted at the speed of memory; a file that
	// can't be mapped (the address space is short) is read in blocks.
	// Kept for its load, it is counted noting where its lines end.
	bool mapped = data && map_input(fd, data, size);
	if (mapped && keep) {
		lines = count_noting_line_ends(data, size, keep->lines);
		keep->identity = identity;
		keep->buffer = data;
		keep->buffer_size = region;
		data = nullptr;
	} else if (mapped) {
		count_block(count, data, data + size);
	} else {
		count_by_reading(count, fd);
	}
	unmap_input(data, region);
	close_input(fd);
	return lines >= 0 ? lines : lines_counted(count);
}

int64_t
count_lines(const char *name)
{
	return count_and_keep(name, nullptr);
}

void
forget_kept_map(KeptMap &kept)
{
	forget_line_ends(kept.lines);
	unmap_input(kept.buffer, kept.buffer_size);
	kept.buffer = nullptr;
}

