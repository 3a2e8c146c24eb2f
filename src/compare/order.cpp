#include "compare/order.h"

#include <cstring>

#include "compare/key_sort.h"
#include "platform/text.h"
#include "run_state.h"

static int
compare_fields(const char *a, const char *b, int length)
{
	if (length <= 0)
		return 0;
	a += settings.field_start;
	b += settings.field_start;
	int r;
	if (settings.match_case)
		r = strncmp(a, b, size_t(length));
	else if (length <= settings.record_length - settings.field_start)
		r = compare_nocase_readable(a, b, size_t(length));	// within every record
	else
		r = compare_nocase(a, b, size_t(length));
	return (r > 0) - (r < 0);
}

int
compare_for_sort(const void *a, const void *b)
{
	return compare_fields(*static_cast<char *const *>(a), *static_cast<char *const *>(b),
	    settings.record_length - settings.field_start);
}

int
compare_for_search(const void *key, const void *entry)
{
	return compare_fields(*static_cast<char *const *>(key), *static_cast<char *const *>(entry),
	    settings.compare_length);
}

SortField
sort_field()
{
	SortField field;
	field.start = settings.field_start;
	field.length = settings.record_length - settings.field_start;
	field.fold = !settings.match_case;
	return field;
}

void
sort_listing(Listing &l)
{
	sort_records(l.table.entries, size_t(l.count), sort_field());
	l.sorted_field_start = settings.field_start;
}

bool
listing_holds(const Listing &l, const char *record)
{
	return bsearch(&record, l.table.entries, l.count, sizeof(char *),
	    compare_for_search) != nullptr;
}

bool
merge_finds_all()
{
	return settings.compare_length <= settings.record_length - settings.field_start &&
	    listings[0].sorted_field_start == settings.field_start &&
	    listings[1].sorted_field_start == settings.field_start;
}

// Records ahead of the walk are fetched early: the tables are sorted, the
// records themselves lie all over the buffers.
static const uint64_t fetch_distance = 8;

static void
fetch_ahead(const Listing &l, uint64_t i)
{
	if (i + fetch_distance < l.count)
		__builtin_prefetch(l.table.entries[i + fetch_distance] + settings.field_start);
}

static int
compare_records(const char *a, const char *b)
{
	return compare_for_search(&a, &b);
}

void
find_missing(const Listing &l1, const Listing &l2, unsigned char *missing_1,
    unsigned char *missing_2)
{
	char *const *a = l1.table.entries;
	char *const *b = l2.table.entries;
	uint64_t i = 0, j = 0;
	while (i < l1.count && j < l2.count) {
		fetch_ahead(l1, i);
		fetch_ahead(l2, j);
		int order = compare_records(a[i], b[j]);
		if (order < 0) {
			missing_1[i++] = 1;
		} else if (order > 0) {
			missing_2[j++] = 1;
		} else {
			// Every record of either side with this field is found.
			const char *field = a[i];
			missing_1[i++] = 0;
			missing_2[j++] = 0;
			while (i < l1.count && compare_records(a[i], field) == 0)
				missing_1[i++] = 0;
			while (j < l2.count && compare_records(b[j], field) == 0)
				missing_2[j++] = 0;
		}
	}
	for (; i < l1.count; i++)
		missing_1[i] = 1;
	for (; j < l2.count; j++)
		missing_2[j] = 1;
}
