#include "loader/inputs.h"

#include <cstdint>
#include <cstdlib>

#include "loader/count.h"
#include "output/messages.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/threads.h"
#include "run_state.h"

// Each file as it was mapped to be counted, until its load takes it.
static KeptMap kept_maps[2];

void
fail_table_memory()
{
	fail("Line %d, error obtaining memory\n"
	    "This generally means there are too many records in the files\n"
	    "Try and reduce the number of records in the files and rerun program\n", 825);
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

// Both names one pipe: read at once by both counts, each would get an
// arbitrary part of it.
static void
refuse_one_stream_twice(char **argv)
{
	if (same_stream(argv[1], argv[2]))
		fail("\n%s and %s are one pipe, which can be read only once\n", argv[1], argv[2]);
}

// The number of entries each record table starts with: one more than the
// larger line count.
static uint64_t
count_inputs(char **argv)
{
	int message = write_error("Getting number of records in each file. This may take some time.\n");
	// Both files are counted at once; the results are looked at in order.
	int64_t counts[2];
	run_two([&] { counts[1] = count_and_keep(argv[2], &kept_maps[1]); },
	    [&] { counts[0] = count_and_keep(argv[1], &kept_maps[0]); });
	// A pipe that a stop signal cut short is no listing.
	for (const KeptMap &kept : kept_maps)
		if (kept.stream_end == StreamEnd::stopped)
			stop_if_asked();
	int64_t most = 0;
	for (int i = 0; i < 2; i++) {
		if (counts[i] < 0)
			fail("\nCan't open input file %s\n"
			    "Please check for correct filename, and rerun program\n", argv[i + 1]);
		if (counts[i] > most)
			most = counts[i];
	}
	erase_transient(message);
	return uint64_t(most) + 1;
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
		// The files kept mapped from their count give way to the tables;
		// what was read of a pipe can't be read again.
		if (!allocate_table(l.table, capacity)) {
			for (KeptMap &kept : kept_maps)
				if (!is_stream(kept.identity))
					forget_kept_map(kept);
			failed |= !allocate_table(l.table, capacity);
		}
	}
	erase_transient(message);
	if (failed)
		fail_table_memory();
}

// The file's pages as mapped for its count, when it is still the same
// file, or else a new region of zeros to map it into.  A pipe's is what
// was read of it, if it was read whole; one that ran out of memory has
// none, and one whose read failed gets zeros, which its load refuses.
static void
take_buffer(Listing &l, KeptMap &kept)
{
	l.buffer_size = buffer_size_for(l.size);
	if (is_stream(kept.identity) && kept.stream_end == StreamEnd::no_memory) {
		l.buffer = nullptr;
	} else if (is_stream(kept.identity) && kept.buffer) {
		l.buffer = kept.buffer;
		l.buffer_size = kept.buffer_size;
		l.mapped_when_counted = true;
		kept.buffer = nullptr;
	} else if (kept.buffer && same_input(kept.identity, l.identity)) {
		l.buffer = kept.buffer;
		l.mapped_when_counted = true;
		kept.buffer = nullptr;
		l.lines = kept.lines;
		kept.lines = LineEnds();
	} else {
		forget_kept_map(kept);
		l.buffer = allocate_zeroed(l.buffer_size);
	}
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
	fail_on(stdout, "\nInput file %s is too large.\n"
	    " Please find a way of reducing it size\n", name);
}

// A file too large to load is refused before it is counted: counting a
// huge sparse file takes minutes and gigabytes of memory.  A file that
// can't be opened is left to the count, which reports it.
static void
refuse_too_large_inputs(char **argv)
{
	for (int i = 1; i <= 2; i++) {
		// A pipe's size is known once it is read.
		if (names_stream(argv[i]))
			continue;
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

// The step at which memory ran out for each listing's buffer.
static const int buffer_failure_step[2] = { 874, 929 };

// The pipe read when it was counted, or the file opened again.
static void
open_listing(Listing &l)
{
	KeptMap &kept = kept_maps[l.number - 1];
	l.handle = is_stream(kept.identity) ? kept.stream_handle : open_input(l.name);
	if (l.handle < 0)
		fail("\nCan't open %s file\n", l.name);
	write_error("\nOpened %s\n", l.name);
	l.identity = is_stream(kept.identity) ? kept.identity : identify_input(l.handle);
	l.size = uint64_t(l.identity.size);
	if (too_large(l.size))
		fail_too_large(l.name);
	int message = write_error(" Getting memory of %lld to process %s",
	    (long long)l.size, l.name);
	fflush(stdout);
	take_buffer(l, kept);
	erase_transient(message);
	if (!l.buffer)
		fail("\nLine #%d, Buffer Allocation Failed\n", buffer_failure_step[l.number - 1]);
}

void
prepare_inputs(char **argv)
{
	listings[0].name = argv[1];
	listings[1].name = argv[2];
	write_error("\n");
	refuse_too_large_inputs(argv);
	refuse_one_stream_twice(argv);
	allocate_tables(count_inputs(argv));
	for (Listing &l : listings)
		open_listing(l);
}
