#include "loader/prepare.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "output/streams.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "run_state.h"

// One read of the line reader returns at most this many characters.
static const uint64_t line_read_limit = 1023;

// The lines of the line reader, which returns at most line_read_limit
// characters at a time, counted block by block.
struct LineCount {
	int64_t lines = 0;
	uint64_t line_length = 0;	// of the line the last block ended in
};

static void
count_block(LineCount &count, const char *p, const char *end)
{
	while (p < end) {
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

// The buffer for a file of `size` bytes: the loader runs off the end of
// the data into zeros, and its header search looks as far as byte 2000.
static size_t
buffer_size_for(uint64_t size)
{
	return size + 1024 < 4096 ? 4096 : size_t(size) + 1024;
}

// A file mapped to be counted stays mapped for its load, when the file
// opened then is the same: its pages are in place by then.
struct CountedMap {
	InputIdentity identity;
	char *buffer = nullptr;
	size_t buffer_size = 0;
};
static CountedMap counted[2];

static int64_t
count_mapped(const char *name, CountedMap *keep)
{
	int fd = open_input(name);
	if (fd < 0)
		return -1;
	InputIdentity identity = identify_input(fd);
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
	return count_mapped(name, nullptr);
}

static void
forget_counted_maps()
{
	for (CountedMap &m : counted) {
		unmap_input(m.buffer, m.buffer_size);
		m.buffer = nullptr;
	}
}

int
release_inputs(int status)
{
	for (Listing &l : listings) {
		if (l.handle >= 0) {
			close_input(l.handle);
			l.handle = -1;
		}
	}
	if (settings.output_requested) {
		if (output_stream && output_stream != stdout)
			fclose(output_stream);
		if (log_stream && log_stream != stderr)
			fclose(log_stream);
		output_stream = stdout;
		log_stream = stderr;
	}
	return status;
}

void
fail_table_memory()
{
	write_error("Line %d, error obtaining memory\n", 825);
	write_error("This generally means there are too many records in the files\n");
	write_error("Try and reduce the number of records in the files and rerun program\n");
	end_process(release_inputs(1));
}

void
grow_table(RecordTable &table, uint64_t count)
{
	if (count < table.capacity)
		return;
	size_t capacity = table.capacity ? table.capacity * 2 : 16;
	void *p = realloc(table.entries, capacity * sizeof *table.entries);
	if (!p)
		fail_table_memory();
	table.entries = static_cast<char **>(p);
	table.capacity = capacity;
}

static void
count_inputs(char **argv, uint64_t &capacity)
{
	int message = write_error("Getting number of records in each file. This may take some time.\n");
	// Both files are counted at once; the results are looked at in order.
	int64_t counts[2];
	std::thread second;
	try {
		second = std::thread([&counts, argv] { counts[1] = count_mapped(argv[2], &counted[1]); });
	} catch (const std::system_error &) {
		counts[1] = count_mapped(argv[2], &counted[1]);
	}
	counts[0] = count_mapped(argv[1], &counted[0]);
	if (second.joinable())
		second.join();
	int64_t most = 0;
	for (int i = 0; i < 2; i++) {
		int64_t lines = counts[i];
		if (lines < 0) {
			write_error("\nCan't open input file %s\n", argv[i + 1]);
			write_error("Please check for correct filename, and rerun program\n");
			end_process(1);
		}
		if (lines > most)
			most = lines;
	}
	capacity = uint64_t(most) + 1;
	erase_transient(message);
}

static bool
allocate_table(RecordTable &table, uint64_t capacity)
{
	void *p = capacity <= SIZE_MAX / sizeof(char *) ? malloc(capacity * sizeof(char *)) : nullptr;
	table.entries = static_cast<char **>(p);
	table.capacity = p ? capacity : 0;
	return p != nullptr;
}

static void
allocate_tables(uint64_t capacity)
{
	int message = write_error(" Getting memory to store %ld lines", long(capacity));
	bool failed = false;
	for (Listing &l : listings) {
		// The files kept mapped from their count give way to the tables.
		if (!allocate_table(l.table, capacity)) {
			forget_counted_maps();
			failed |= !allocate_table(l.table, capacity);
		}
	}
	erase_transient(message);
	if (failed)
		fail_table_memory();
}

// The buffer the file was mapped into to be counted, or a new one.
static void
give_buffer(Listing &l, CountedMap &kept)
{
	l.buffer_size = buffer_size_for(l.size);
	if (kept.buffer && same_input(kept.identity, identify_input(l.handle))) {
		l.buffer = kept.buffer;
		l.mapped_when_counted = true;
	} else {
		unmap_input(kept.buffer, kept.buffer_size);
		l.buffer = allocate_zeroed(l.buffer_size);
	}
	kept.buffer = nullptr;
}

// Offsets within a listing are kept in 32 bits.
static bool
too_large(uint64_t size)
{
	return size >> 32;
}

[[noreturn]] static void
fail_too_large(const char *name)
{
	write_text(stdout, "\nInput file %s is too large.\n", name);
	write_text(stdout, " Please find a way of reducing it size\n");
	end_process(release_inputs(1));
}

// A file too large to load is refused before it is counted: counting a
// huge sparse file takes minutes and gigabytes of memory.  A file that
// can't be opened is left to the count, which reports it.
static void
refuse_too_large_inputs(char **argv)
{
	for (int i = 1; i <= 2; i++) {
		int fd = open_input(argv[i]);
		if (fd < 0)
			continue;
		uint64_t size = input_size(fd);
		close_input(fd);
		if (too_large(size)) {
			write_error("\nOpened %s\n", argv[i]);
			fail_too_large(argv[i]);
		}
	}
}

static void
open_listing(Listing &l, bool second)
{
	l.handle = open_input(l.name);
	if (l.handle < 0) {
		write_error("\nCan't open %s file\n", l.name);
		end_process(second ? release_inputs(1) : 1);
	}
	write_error("\nOpened %s\n", l.name);
	l.size = input_size(l.handle);
	if (too_large(l.size))
		fail_too_large(l.name);
	int message = write_error(" Getting memory of %lld to process %s",
	    (long long)l.size, l.name);
	fflush(stdout);
	give_buffer(l, counted[second ? 1 : 0]);
	erase_transient(message);
	if (!l.buffer) {
		write_error("\nLine #%d, Buffer Allocation Failed\n", second ? 929 : 874);
		end_process(second ? release_inputs(1) : 1);
	}
}

void
prepare_inputs(char **argv)
{
	listings[0].name = argv[1];
	listings[1].name = argv[2];
	write_error("\n");
	refuse_too_large_inputs(argv);
	uint64_t capacity;
	count_inputs(argv, capacity);
	allocate_tables(capacity);
	open_listing(listings[0], false);
	open_listing(listings[1], true);
}
