#include "compare/order.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "run_state.h"

static int
compare_fields(const char *a, const char *b, int length)
{
	if (length <= 0)
		return 0;
	a += settings.field_start;
	b += settings.field_start;
	int r = settings.match_case ? strncmp(a, b, size_t(length)) :
	    compare_nocase(a, b, size_t(length));
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

void
sort_listing(Listing &l)
{
	char **entries = l.table.entries;
	std::sort(entries, entries + l.count, [](char *const &a, char *const &b) {
		return compare_for_sort(&a, &b) < 0;
	});
	l.sorted_field_start = settings.field_start;
}

bool
listing_holds(const Listing &l, const char *record)
{
	return bsearch(&record, l.table.entries, l.count, sizeof(char *),
	    compare_for_search) != nullptr;
}
