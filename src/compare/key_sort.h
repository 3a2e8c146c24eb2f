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
// end up in no particular order.  A large table is sorted on two threads
// when threads_allowed is set.
void sort_records(char **entries, size_t count, const SortField &field,
    bool threads_allowed = true);

// A sort that threads share: prepare_sort fills the keys and splits the
// table into buckets (null when there is nothing left to do), every thread
// that calls help_sort sorts buckets until none is left, and end_sort,
// once they have all returned, frees what the sort used.
struct SharedSort;
SharedSort *prepare_sort(char **entries, size_t count, const SortField &field);
void help_sort(SharedSort *sort);
void end_sort(SharedSort *sort);

// For a table sorted by sort_records: counts[t] receives how many of the
// `others` sort after sorted[t - 1] and before sorted[t] (counts[0]: before
// sorted[0], counts[count]: after the last).  counts has count + 1 places.
void count_between(char *const *sorted, size_t count, char *const *others,
    size_t other_count, const SortField &field, uint64_t *counts);
