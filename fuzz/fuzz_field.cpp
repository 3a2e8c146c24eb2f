// Compare-field selection on an arbitrary first record.  The input is
// five bytes of options, then the record:
//   byte 0: bit 0 -h, bit 1 -i, bit 2 the record is a short first line
//           without headers (zero-padded to the record length of byte 4)
//   bytes 1-2: -d value, bytes 3: -l value, byte 4: the padded length.
// The record ends at the first CR, LF or zero byte, as the loader cuts it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "compare/placement.h"
#include "compare/match.h"
#include "compare/report.h"
#include "fuzz_state.h"
#include "loader/field.h"
#include "run_state.h"

static const size_t option_bytes = 5;

static size_t
own_length(const uint8_t *text, size_t size)
{
	size_t n = 0;
	while (n < size && text[n] != '\r' && text[n] != '\n' && text[n] != '\0')
		n++;
	return n;
}

// The compare field of a record found in the listing lies within it, the
// record is its own partner and sorts level with itself.
static void
check_field(char *record, const CompareField &field)
{
	require(field.field_start >= 0 && field.field_start < field.record_length);
	require(field.compare_length >= 0);
	if (settings.hash_field && !settings.field_length)
		require(field.field_start + field.compare_length <= field.record_length);
	listings[1] = listings[0];
	Background fill = start_matching(listings[0], field, true);
	finish_matching(fill, listings[0], listings[1], field);
	require(!unmatched_records(1)[0] && !unmatched_records(2)[0]);
	uint64_t counts[2];
	count_between(&record, 1, &record, 1, sort_field(field), counts);
	require(counts[0] == 0 && counts[1] == 1);
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < option_bytes)
		return 0;
	reset_run_state();
	settings.hash_field = data[0] & 1;
	settings.match_case = !(data[0] & 2);
	settings.field_start = data[1] | data[2] << 8;
	settings.field_length = data[3];
	size_t length = own_length(data + option_bytes, size - option_bytes);
	size_t record_length = length;
	if ((data[0] & 4) && data[4] > length)
		record_length = data[4];
	// Exactly the record and its zero padding, so that any read past them
	// is caught.
	char *record = static_cast<char *>(calloc(record_length + 1, 1));
	memcpy(record, data + option_bytes, length);
	Listing &l = listings[0];
	l.name = "fuzz.txt";
	l.table.entries = &record;
	l.table.capacity = 1;
	l.count = 1;
	l.record_length = int(record_length);
	// The record is the first of a listing without headers, in its copy.
	l.unheaded_first = record;
	try {
		check_field(record, select_field(l, field_from_options()));
	} catch (const RunEnded &end) {
		require(end.status == 1);
	}
	free(record);
	return 0;
}
