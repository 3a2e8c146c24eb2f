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

// Sixteen bytes of a record's field, cached beside its pointer, as two
// numbers whose order is the order of those bytes: the first byte
// highest, zero from the field's end or its first zero byte on.  The
// leading columns of a listing often agree over more than eight.
struct SortKey {
	uint64_t high;
	uint64_t low;
};
inline constexpr int key_width = 16;

// The key of the field's bytes from `offset` on.
SortKey make_key(const char *record, const SortField &field, int offset);

// Whether record a, with key ka, sorts before record b, with key kb; the
// keys are those from the field's start.
bool sorts_before(const char *a, SortKey ka, const char *b, SortKey kb, const SortField &field);
