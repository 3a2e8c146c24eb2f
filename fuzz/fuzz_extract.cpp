// Header search and record extraction on arbitrary file contents.  The
// first byte picks the options (bit 0: -x, bit 1: -i); the rest is the
// file, placed in a zero-padded buffer sized as the loader sizes it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "compare/match.h"
#include "fuzz_state.h"
#include "loader/extract.h"
#include "loader/field.h"
#include "run_state.h"

// Every record lies inside the data read, has the record length and no
// zero byte; only the first line without headers may have another length,
// and it lives in its own copy that ends in a zero byte.
static bool
inside(const Listing &l, const char *p)
{
	return p >= l.buffer && p < l.buffer + l.buffer_size;
}

static void
check_records(const Listing &l, size_t n, Headers headers)
{
	for (uint64_t i = 0; i < l.count; i++) {
		const char *record = l.table.entries[i];
		if (i == 0 && headers == without_headers) {
			require(record == l.unheaded_first && !inside(l, record));
			continue;
		}
		require(record >= l.buffer && record + l.record_length <= l.buffer + n);
		require(memchr(record, '\0', size_t(l.record_length)) == nullptr);
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	reset_run_state();
	Headers headers = data[0] & 1 ? without_headers : with_headers;
	settings.match_case = !(data[0] & 2);
	size_t n = size - 1;
	Listing &l = listings[0];
	l.name = "fuzz.txt";
	l.buffer_size = n + 1024 < 4096 ? 4096 : n + 1024;
	l.buffer = static_cast<char *>(calloc(l.buffer_size, 1));
	memcpy(l.buffer, data + 1, n);
	long start = find_start_position(l.buffer, n);
	require(start < 0 || (start <= 2000 && size_t(start) <= n));
	try {
		extract_records(l, n, headers);
		check_records(l, n, headers);
		CompareField field = select_field(l, field_from_options());
		// Every record is its own partner, whether the table is filled
		// while the second listing loads or only once it is needed.
		Background fill = start_matching(l, field, (data[0] & 4) != 0);
		finish_matching(fill, l, l, field);
		for (uint64_t i = 0; i < l.count; i++)
			require(!unmatched_records(1)[i] && !unmatched_records(2)[i]);
	} catch (const RunEnded &end) {
		require(end.status == 1);
	}
	free(l.unheaded_first);
	free(l.table.entries);
	free(l.buffer);
	return 0;
}
