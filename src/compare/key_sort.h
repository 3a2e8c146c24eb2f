// Sorting record tables fast: a radix sort over sixteen cached bytes of
// each record's sort field at a time, instead of comparisons that chase
// every record pointer.
#pragma once

#include <cstddef>
#include <cstdint>

// The order a table is sorted in: the bytes from `start` over `length`
// characters, stopping at a zero byte, compared unsigned, with A to Z
// folded to lower case when `fold` is set.
struct SortField {
	int start = 0;
	int length = 0;
	bool fold = false;
};

// Sorts the pointers in the field's order.  Records that compare equal
// end up in no particular order.  A large table is sorted on two threads.
void sort_records(char **entries, size_t count, const SortField &field);

// For a table sorted by sort_records: counts[t] receives how many of the
// `others` sort before sorted[t] but not before sorted[t - 1] (counts[0]:
// before sorted[0]; counts[count]: the rest).  counts has count + 1
// places.
void count_between(char *const *sorted, size_t count, char *const *others,
    size_t other_count, const SortField &field, uint64_t *counts);
