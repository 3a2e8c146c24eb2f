#include "loader/field.h"

#include <cstring>

#include "output/messages.h"
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

CompareField
field_from_options()
{
	CompareField field;
	field.field_start = settings.field_start;
	field.fold = !settings.match_case;
	field.find_hash_start = settings.hash_field;
	field.length_given = settings.field_length;
	return field;
}

bool
is_unheaded_first(const CompareField &field, const char *record)
{
	return record == field.unheaded.records[0] || record == field.unheaded.records[1];
}

const char *
unheaded_first(const CompareField &field, int number)
{
	return field.unheaded.records[number - 1];
}

size_t
record_span(const CompareField &field, const char *record)
{
	return is_unheaded_first(field, record) ? strlen(record) : size_t(field.record_length);
}

CompareField
select_field(const Listing &l, CompareField field)
{
	field.record_length = l.record_length;
	if (l.unheaded_first)
		field.unheaded.records[l.number - 1] = l.unheaded_first;
	// A listing without records has no first record to examine and
	// nothing to compare.
	int computed = field.record_length - field.field_start;
	if (l.count > 0 && field.find_hash_start) {
		const char *first = l.table.entries[0];
		int start = find_hash(first, int(record_span(field, first)), &computed);
		if (start < 0)
			fail("\nNo hash value found in the first record of %s\n", l.name);
		field.field_start = start;
	} else if (field.find_hash_start) {
		return field;
	}
	if (l.count > 0 && field.field_start >= field.record_length)
		fail("\nNothing to compare in %s: the compare field starts at %d,"
		    " its records are %d characters long\n",
		    l.name, field.field_start, field.record_length);
	field.compare_length = field.length_given ? field.length_given : computed;
	return field;
}
