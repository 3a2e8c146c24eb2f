#include "compare/order.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <future>
#include <system_error>
#include <thread>

#include "compare/key_sort.h"
#include "loader/extract.h"
#include "platform/text.h"
#include "run_state.h"

static int
compare_bytes(const char *a, const char *b, size_t length)
{
	if (settings.match_case)
		return strncmp(a, b, length);
	return compare_nocase_readable(a, b, length);
}

// Records end without a zero byte; a comparison that reaches past the end
// of either record finds the shorter one first, as if it ended in one.
static int
compare_past_tail(const char *a, const char *b, int length)
{
	size_t start = size_t(settings.field_start);
	size_t span_a = record_span(a), span_b = record_span(b);
	size_t left_a = span_a > start ? span_a - start : 0;
	size_t left_b = span_b > start ? span_b - start : 0;
	size_t n = std::min({ left_a, left_b, size_t(length) });
	int r = compare_bytes(a + start, b + start, n);
	if (r != 0 || n == size_t(length))
		return r;
	return (left_a > n) - (left_b > n);
}

static int
compare_fields(const char *a, const char *b, int length)
{
	if (length <= 0)
		return 0;
	int r;
	if (length <= settings.record_length - settings.field_start)
		r = compare_bytes(a + settings.field_start, b + settings.field_start, size_t(length));
	else
		r = compare_past_tail(a, b, length);
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
	if (l.count == 0)
		return false;	// an empty table may have no entries at all
	return bsearch(&record, l.table.entries, l.count, sizeof(char *),
	    compare_for_search) != nullptr;
}

// Listing 1's sort on the background thread: split into buckets, then
// done.  The thread owns the promises and is never joined, and what is
// left here when a run ends early is never destroyed: such a run must
// neither wait for the sort nor abort on the way out.
struct BackgroundSort {
	std::future<SharedSort *> split;
	std::future<void> done;
};
static BackgroundSort *background_sort;

void
start_sort(Listing &l)
{
	SortField field = sort_field();
	l.sorted_field_start = settings.field_start;
	char **entries = l.table.entries;
	size_t count = size_t(l.count);
	try {
		auto *split = new std::promise<SharedSort *>;
		auto *done = new std::promise<void>;
		auto *sort = new BackgroundSort{ split->get_future(), done->get_future() };
		// The main thread has listing 2 to read meanwhile.
		std::thread([split, done, entries, count, field] {
			SharedSort *buckets = prepare_sort(entries, count, field);
			split->set_value(buckets);
			delete split;
			help_sort(buckets);
			done->set_value();
			delete done;
		}).detach();
		background_sort = sort;
	} catch (const std::exception &) {
		sort_records(entries, count, field);
	}
}

void
finish_sort()
{
	if (!background_sort)
		return;
	// The main thread takes buckets too when it comes to wait.
	SharedSort *buckets = background_sort->split.get();
	help_sort(buckets);
	background_sort->done.get();
	end_sort(buckets);
	delete background_sort;
	background_sort = nullptr;
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
static const uint64_t fetch_distance = 16;

static void
fetch_ahead(char *const *entries, uint64_t count, uint64_t i)
{
	if (i + fetch_distance < count) {
		const char *field = entries[i + fetch_distance] + settings.field_start;
		__builtin_prefetch(field);
		__builtin_prefetch(field + settings.compare_length - 1);
	}
}

static int
compare_records(const char *a, const char *b)
{
	return compare_for_search(&a, &b);
}

// Whether the record has the compare field of the last pair found in both
// tables; only a record of the same field as that pair can be found
// behind it, as both tables are in order.
static bool
repeats_last_found(const char *record, const char *last_found)
{
	return last_found && compare_records(record, last_found) == 0;
}

// The walk over one stretch of each table: one comparison per step, and
// one more for each record that is not paired with the record opposite.
static void
walk_range(char *const *a, uint64_t count_a, char *const *b, uint64_t count_b,
    unsigned char *missing_1, unsigned char *missing_2)
{
	uint64_t i = 0, j = 0;
	const char *last_found = nullptr;
	while (i < count_a && j < count_b) {
		fetch_ahead(a, count_a, i);
		fetch_ahead(b, count_b, j);
		int order = compare_records(a[i], b[j]);
		if (order == 0) {
			last_found = a[i];
			missing_1[i++] = 0;
			missing_2[j++] = 0;
		} else if (order < 0) {
			missing_1[i] = !repeats_last_found(a[i], last_found);
			i++;
		} else {
			missing_2[j] = !repeats_last_found(b[j], last_found);
			j++;
		}
	}
	for (; i < count_a; i++)
		missing_1[i] = !repeats_last_found(a[i], last_found);
	for (; j < count_b; j++)
		missing_2[j] = !repeats_last_found(b[j], last_found);
}

// Below this many records a second thread costs more than it saves.
static const uint64_t split_threshold = 65536;

void
find_missing(const Listing &l1, const Listing &l2, unsigned char *missing_1,
    unsigned char *missing_2)
{
	char *const *a = l1.table.entries;
	char *const *b = l2.table.entries;
	if (l1.count < split_threshold || l2.count < split_threshold) {
		walk_range(a, l1.count, b, l2.count, missing_1, missing_2);
		return;
	}
	// The tables are cut where listing 1 changes field near its middle, and
	// listing 2 before its first record of the field after the cut: each
	// field then lies wholly in one half of both tables, and the halves
	// are walked at the same time.
	uint64_t cut_a = l1.count / 2;
	while (cut_a < l1.count && compare_records(a[cut_a - 1], a[cut_a]) == 0)
		cut_a++;
	uint64_t cut_b = l2.count;
	if (cut_a < l1.count)
		cut_b = uint64_t(std::lower_bound(b, b + l2.count, a[cut_a],
		    [](const char *x, const char *y) { return compare_records(x, y) < 0; }) - b);
	std::thread first_half;
	try {
		first_half = std::thread([=] {
			walk_range(a, cut_a, b, cut_b, missing_1, missing_2);
		});
	} catch (const std::system_error &) {
		walk_range(a, cut_a, b, cut_b, missing_1, missing_2);
	}
	walk_range(a + cut_a, l1.count - cut_a, b + cut_b, l2.count - cut_b,
	    missing_1 + cut_a, missing_2 + cut_b);
	if (first_half.joinable())
		first_half.join();
}
