#include "loader/field.h"

#include <cstring>

#include "loader/extract.h"
#include "output/streams.h"
#include "platform/process.h"
#include "run_state.h"

static bool
is_hex_digit(char c)
{
	return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int
find_hash(const char *r, int len, int *hash_length)
{
	int p = 3;
	while (p < len && r[p] != ' ')
		p++;
	for (;;) {
		while (p < len && (r[p] == ' ' || r[p] == '|'))
			p++;
		if (p >= len)
			return -1;
		int k = 0;
		while (k < 8 && p + k < len && is_hex_digit(r[p + k]))
			k++;
		if (k == 8)
			break;
		p += k ? k : 1;
	}
	int q = p;
	while (q < len && r[q] != ' ')
		q++;
	*hash_length = q - p;
	return p;
}

void
select_field(const Listing &l)
{
	// A listing without records has no first record to examine and
	// nothing to compare.
	int computed = settings.record_length - settings.field_start;
	if (l.count > 0 && settings.hash_field) {
		const char *first = l.table.entries[0];
		int start = find_hash(first, int(record_span(first)), &computed);
		if (start < 0) {
			write_error("\nNo hash value found in the first record of %s\n", l.name);
			end_process(1);
		}
		settings.field_start = start;
	} else if (settings.hash_field) {
		return;
	}
	if (l.count > 0 && settings.field_start >= settings.record_length) {
		write_error("\nNothing to compare in %s: the compare field starts at %d,"
		    " its records are %d characters long\n",
		    l.name, settings.field_start, settings.record_length);
		end_process(1);
	}
	settings.compare_length = settings.field_length ? settings.field_length : computed;
}
