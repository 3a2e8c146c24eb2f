// Header search and record extraction on arbitrary file contents.  The
// first byte picks the options (bit 0: -x, bit 1: -i); the rest is the
// file, placed in a zero-padded buffer sized as the loader sizes it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "compare/order.h"
#include "fuzz_state.h"
#include "loader/extract.h"
#include "loader/field.h"
#include "run_state.h"

// Every record lies inside the data read, ends at a zero byte and has the
// record length; only the first line without headers may have another
// length, and when it is shorter it lives in its own zero-padded copy.
static bool
inside(const Listing &l, const char *p)
{
	return p >= l.buffer && p < l.buffer + l.buffer_size;
}

static void
check_records(const Listing &l, size_t n)
{
	for (uint64_t i = 0; i < l.count; i++) {
		const char *record = l.table.entries[i];
		size_t length = strlen(record);
		if (i == 0 && settings.no_headers && !inside(l, record)) {
			require(length < size_t(settings.record_length));
			continue;
		}
		require(record >= l.buffer && record + length <= l.buffer + n);
		require(length == size_t(settings.record_length) ||
		    (i == 0 && settings.no_headers));
	}
}

// The short first line without headers lives in its own copy, which the
// program keeps to the end; the sort may move it from the first entry.
static char *
first_line_copy(const Listing &l)
{
	return l.count > 0 && !inside(l, l.table.entries[0]) ? l.table.entries[0] : nullptr;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	reset_run_state();
	settings.no_headers = data[0] & 1;
	settings.match_case = !(data[0] & 2);
	size_t n = size - 1;
	Listing &l = listings[0];
	l.name = "fuzz.txt";
	l.buffer_size = n + 1024 < 4096 ? 4096 : n + 1024;
	l.buffer = static_cast<char *>(calloc(l.buffer_size, 1));
	memcpy(l.buffer, data + 1, n);
	long start = find_start_position(l.buffer, n);
	require(start < 0 || (start <= 2000 && size_t(start) <= n));
	char *copy = nullptr;
	try {
		extract_records(l, n);
		copy = first_line_copy(l);
		check_records(l, n);
		select_field(l);
		sort_listing(l);
		for (uint64_t i = 0; i < l.count; i++)
			require(listing_holds(l, l.table.entries[i]));
	} catch (const RunEnded &end) {
		require(end.status == 1);
	}
	free(copy);
	free(l.table.entries);
	free(l.buffer);
	return 0;
}
