#include "compare/key_sort.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "bytes.h"
#include "platform/threads.h"

// Below this many records a range is finished by comparisons.
static const size_t small_range = 64;
// From this many records on a table is sorted on two threads.
static const size_t two_thread_count = 100000;
// Records whose keys are refilled are fetched this far ahead.
static const size_t fetch_ahead = 16;

// Up to eight bytes of the field from `offset` on as one number whose
// order is the order of those bytes: the first byte highest, zero from
// the field's end or its first zero byte on.
static uint64_t
field_key(const char *record, const SortField &field, int offset)
{
	const unsigned char *p =
	    reinterpret_cast<const unsigned char *>(record) + field.start + offset;
	int available = field.length - offset;
	int n = available < 8 ? available : 8;
	uint64_t key = 0;
	int i = 0;
	for (; i < n; i++) {
		unsigned char c = field.fold ? fold_case(p[i]) : p[i];
		if (c == 0)
			break;
		key |= uint64_t(c) << (56 - 8 * i);
	}
	return key;
}

SortKey
make_key(const char *record, const SortField &field, int offset)
{
	SortKey key;
	key.high = field_key(record, field, offset);
	// Nothing of the field counts after its first zero byte.
	key.low = has_zero_byte(key.high) ? 0 : field_key(record, field, offset + 8);
	return key;
}

static bool
operator==(SortKey a, SortKey b)
{
	return a.high == b.high && a.low == b.low;
}

static bool
operator<(SortKey a, SortKey b)
{
	return a.high < b.high || (a.high == b.high && a.low < b.low);
}

// A key whose field ended inside it leaves nothing further to compare.
static bool
key_ends_field(SortKey key, const SortField &field, int offset)
{
	return offset + key_width >= field.length || has_zero_byte(key.low);
}

// The order of two records whose keys at `offset` are equal, from the
// bytes after those keys.
static int
compare_rest(const char *a, const char *b, SortKey key, const SortField &field, int offset)
{
	if (key_ends_field(key, field, offset))
		return 0;
	int from = field.start + offset + key_width;
	size_t n = size_t(field.length - offset - key_width);
	if (field.fold)
		return compare_nocase_readable(a + from, b + from, n);
	return strncmp(a + from, b + from, n);
}

bool
sorts_before(const char *a, SortKey ka, const char *b, SortKey kb, const SortField &field)
{
	if (!(ka == kb))
		return ka < kb;
	return compare_rest(a, b, ka, field, 0) < 0;
}

struct SortRange {
	SortKey *keys;
	char **entries;
	size_t count;
};

static void
swap_records(SortRange r, size_t i, size_t j)
{
	std::swap(r.keys[i], r.keys[j]);
	std::swap(r.entries[i], r.entries[j]);
}

// A run of records whose keys at `offset` agree; ordered later from the
// key bytes after those, with the other runs, so that the records it
// needs can be fetched while earlier runs are ordered.
struct TiedRun {
	SortRange range;
	int offset;
};

// The sort of one thread: the field, and the runs of records it has left
// to order by the bytes after their keys.
struct SortWork {
	const SortField &field;
	std::vector<TiedRun> tied;
};

static void order_run(const TiedRun &run, SortWork &work);

static void
put_aside(const TiedRun &run, SortWork &work)
{
	try {
		work.tied.push_back(run);
	} catch (const std::bad_alloc &) {
		order_run(run, work);
	}
}

// Orders the range by key and puts each run of equal keys whose field goes
// on past them aside for order_tied_runs.
static void
sort_small(SortRange r, SortWork &work, int offset)
{
	for (size_t i = 1; i < r.count; i++) {
		SortKey key = r.keys[i];
		char *entry = r.entries[i];
		size_t j = i;
		for (; j > 0 && key < r.keys[j - 1]; j--) {
			r.keys[j] = r.keys[j - 1];
			r.entries[j] = r.entries[j - 1];
		}
		r.keys[j] = key;
		r.entries[j] = entry;
	}
	size_t start = 0;
	for (size_t i = 1; i <= r.count; i++) {
		if (i < r.count && r.keys[i] == r.keys[start])
			continue;
		if (i - start > 1 && !key_ends_field(r.keys[start], work.field, offset))
			put_aside({ { r.keys + start, r.entries + start, i - start }, offset }, work);
		start = i;
	}
}

__attribute__((noinline)) static void
fill_keys(SortRange r, const SortField &field, int offset)
{
	for (size_t i = 0; i < r.count; i++) {
		if (i + fetch_ahead < r.count)
			__builtin_prefetch(r.entries[i + fetch_ahead] + field.start + offset);
		r.keys[i] = make_key(r.entries[i], field, offset);
	}
}

static unsigned
digit(SortKey key, int byte)
{
	uint64_t word = byte < 8 ? key.high : key.low;
	return unsigned(word >> (56 - 8 * (byte & 7))) & 0xff;
}

// Moves every record of the range into its bucket by key byte `byte`;
// counts holds the size of each bucket.  Kept out of line so that its
// tables don't weigh on every nested call of sort_range.
__attribute__((noinline)) static void
distribute(SortRange r, int byte, const size_t *counts)
{
	size_t next[256], end[256];
	size_t at = 0;
	for (unsigned d = 0; d < 256; d++) {
		next[d] = at;
		at += counts[d];
		end[d] = at;
	}
	for (unsigned d = 0; d < 256; d++) {
		while (next[d] < end[d]) {
			unsigned home = digit(r.keys[next[d]], byte);
			if (home == d)
				next[d]++;
			else
				swap_records(r, next[d], next[home]++);
		}
	}
}

// Puts the range in order by key byte `byte`, first moving on to the next
// key bytes when the range agrees on all of its key; counts receives the
// size of each bucket.  False when the range needs no further sorting.
static bool
split_range(SortRange r, const SortField &field, int &offset, int &byte, size_t *counts)
{
	if (byte == key_width) {
		// Every key in the range is the same: on to the next bytes,
		// unless the field ended within these.
		if (key_ends_field(r.keys[0], field, offset))
			return false;
		offset += key_width;
		byte = 0;
		fill_keys(r, field, offset);
	}
	std::fill(counts, counts + 256, 0);
	for (size_t i = 0; i < r.count; i++)
		counts[digit(r.keys[i], byte)]++;
	if (counts[digit(r.keys[0], byte)] < r.count)
		distribute(r, byte, counts);
	return true;
}

static unsigned
largest_bucket(const size_t *counts)
{
	unsigned largest = 0;
	for (unsigned d = 1; d < 256; d++)
		if (counts[d] > counts[largest])
			largest = d;
	return largest;
}

// Sorts the range by key byte `byte` and those after it; every key in the
// range shares the bytes before it.  Only buckets smaller than half the
// range are sorted by a call of their own, so the calls nest no deeper
// than the logarithm of the count, whatever the records hold.
static void
sort_range(SortRange r, SortWork &work, int offset, int byte)
{
	for (;;) {
		if (r.count < small_range) {
			sort_small(r, work, offset);
			return;
		}
		size_t counts[256];
		if (!split_range(r, work.field, offset, byte, counts))
			return;
		unsigned largest = largest_bucket(counts);
		SortRange rest{};
		size_t start = 0;
		for (unsigned d = 0; d < 256; d++) {
			SortRange bucket{ r.keys + start, r.entries + start, counts[d] };
			start += counts[d];
			// A zero byte means the field ended: those records are equal.
			// A bucket of one record or none is in order.
			if (d == 0 || bucket.count < 2)
				continue;
			if (d == largest)
				rest = bucket;
			else if (bucket.count < small_range)
				sort_small(bucket, work, offset);
			else
				sort_range(bucket, work, offset, byte + 1);
		}
		r = rest;
		byte++;
	}
}

// Tied runs this many runs ahead have their records fetched early.
static const size_t runs_ahead = 8;

static void
fetch_run(const TiedRun &run, const SortField &field)
{
	for (size_t i = 0; i < run.range.count; i++) {
		const char *next_key = run.range.entries[i] + field.start + run.offset + key_width;
		__builtin_prefetch(next_key);
		__builtin_prefetch(next_key + key_width - 1);
	}
}

static void
order_run(const TiedRun &run, SortWork &work)
{
	int offset = run.offset + key_width;
	fill_keys(run.range, work.field, offset);
	sort_range(run.range, work, offset, 0);
}

// Orders every run sort_small put aside, including those that it puts
// aside meanwhile.
static void
order_tied_runs(SortWork &work)
{
	for (size_t k = 0; k < work.tied.size(); k++) {
		if (k + runs_ahead < work.tied.size())
			fetch_run(work.tied[k + runs_ahead], work.field);
		TiedRun run = work.tied[k];
		order_run(run, work);
	}
	work.tied.clear();
}

// A range still to be sorted, from key byte `byte` at `offset` on.
struct SortTask {
	SortRange range;
	int offset;
	int byte;
};

static void
sort_by_comparison(char **entries, size_t count, const SortField &field)
{
	std::sort(entries, entries + count, [&field](const char *a, const char *b) {
		return sorts_before(a, make_key(a, field, 0), b, make_key(b, field, 0), field);
	});
}

// Splits the table into buckets until none holds more than `most`
// records, so that threads can share them out evenly.
static std::vector<SortTask>
split_into_tasks(SortRange all, const SortField &field, size_t most)
{
	std::vector<SortTask> tasks{ { all, 0, 0 } };
	for (;;) {
		auto big = std::max_element(tasks.begin(), tasks.end(),
		    [](const SortTask &a, const SortTask &b) { return a.range.count < b.range.count; });
		if (big == tasks.end() || big->range.count <= most)
			return tasks;
		SortTask task = *big;
		tasks.erase(big);
		size_t counts[256];
		if (!split_range(task.range, field, task.offset, task.byte, counts))
			continue;
		size_t start = 0;
		for (unsigned d = 0; d < 256; d++) {
			SortRange bucket{ task.range.keys + start, task.range.entries + start, counts[d] };
			start += counts[d];
			if (d != 0 && bucket.count > 1)
				tasks.push_back({ bucket, task.offset, task.byte + 1 });
		}
	}
}

// The keys of a large table are filled in two halves at once.
static void
fill_first_keys(SortRange all, const SortField &field)
{
	if (all.count < two_thread_count) {
		fill_keys(all, field, 0);
		return;
	}
	run_halves(all.count, [&](size_t from, size_t to) {
		fill_keys({ all.keys + from, all.entries + from, to - from }, field, 0);
	});
}

// A table's sort shared out between threads: prepare_sort fills the keys
// and splits the table into buckets, largest first (null when there is
// nothing left to do), every thread that calls help_sort takes buckets
// until none is left, and end_sort, once they have all returned, frees
// what the sort used.
struct SharedSort {
	SortField field;
	SortKey *keys = nullptr;
	std::vector<SortTask> tasks;
	std::atomic<size_t> next{ 0 };
};

// A share of a table this large keeps two threads evenly busy however late
// the second one joins.
static const size_t tasks_per_table = 16;

static SharedSort *
prepare_sort(char **entries, size_t count, const SortField &field)
{
	if (count < 2 || field.length <= 0)
		return nullptr;
	auto *keys = static_cast<SortKey *>(malloc(count * sizeof(SortKey)));
	if (!keys) {
		// Slower, but needs no memory of its own.
		sort_by_comparison(entries, count, field);
		return nullptr;
	}
	auto *sort = new SharedSort;
	sort->field = field;
	sort->keys = keys;
	SortRange all{ keys, entries, count };
	fill_first_keys(all, field);
	if (count >= two_thread_count)
		sort->tasks = split_into_tasks(all, field, count / tasks_per_table);
	else
		sort->tasks.push_back({ all, 0, 0 });
	std::sort(sort->tasks.begin(), sort->tasks.end(),
	    [](const SortTask &a, const SortTask &b) { return a.range.count > b.range.count; });
	return sort;
}

static void
help_sort(SharedSort *sort)
{
	if (!sort)
		return;
	SortWork work{ sort->field, {} };
	for (size_t k; (k = sort->next++) < sort->tasks.size();) {
		const SortTask &t = sort->tasks[k];
		sort_range(t.range, work, t.offset, t.byte);
	}
	order_tied_runs(work);
}

static void
end_sort(SharedSort *sort)
{
	if (!sort)
		return;
	free(sort->keys);
	delete sort;
}

void
sort_records(char **entries, size_t count, const SortField &field)
{
	SharedSort *sort = prepare_sort(entries, count, field);
	if (sort && count >= two_thread_count)
		run_two([sort] { help_sort(sort); }, [sort] { help_sort(sort); });
	else
		help_sort(sort);
	end_sort(sort);
}
