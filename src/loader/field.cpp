#include "loader/field.h"

#include <cstring>

#include "listing/columns.h"
#include "output/messages.h"
#include "run_state.h"

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
