#include "compare/placement.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bytes.h"
#include "platform/threads.h"

// The key of a record as one number, for comparisons without branches.
__extension__ typedef unsigned __int128 WideKey;

static WideKey
wide(SortKey key)
{
	return WideKey(key.high) << 64 | key.low;
}

// make_key for the common record, whose first sixteen field bytes hold no
// zero byte: two loads instead of a loop over the bytes.
static SortKey
quick_key(const char *record, const SortField &field)
{
	if (field.length < key_width)
		return make_key(record, field, 0);
	uint64_t high, low;
	memcpy(&high, record + field.start, 8);
	memcpy(&low, record + field.start + 8, 8);
	if (has_zero_byte(high) || has_zero_byte(low))
		return make_key(record, field, 0);
	if (field.fold) {
		high = fold_word(high);
		low = fold_word(low);
	}
	return { __builtin_bswap64(high), __builtin_bswap64(low) };
}

// Sixteen bits of a key that tell most records' gaps at once: those right
// after the bits every sorted key shares.  A record whose leading bits
// differ from the shared ones falls before all sorted keys or after all;
// one whose window no sorted key has falls between the sorted keys with a
// lower window and those with a higher one, and needs no search.
struct GapWindow {
	int shift = 0;			// of the window in a key
	WideKey shared = 0;		// the bits above the window, in place
	// Per window: the first sorted key with it or a higher one; the last
	// place, past every window, holds the number of sorted keys.
	std::vector<uint32_t> first;
};

static const int window_bits = 16;

static int
leading_zeros(WideKey k)
{
	uint64_t high = uint64_t(k >> 64);
	if (high)
		return __builtin_clzll(high);
	uint64_t low = uint64_t(k);
	return low ? 64 + __builtin_clzll(low) : 128;
}

static uint32_t
window_of(const GapWindow &w, WideKey key)
{
	return uint32_t(key >> w.shift) & ((1u << window_bits) - 1);
}

// The bits above the window; none when it starts the key.
static WideKey
above_window(const GapWindow &w, WideKey key)
{
	int shift = w.shift + window_bits;
	return shift >= 128 ? 0 : key >> shift;
}

static GapWindow
gap_window(const WideKey *keys, size_t count)
{
	GapWindow w;
	int shared_bits = std::min(leading_zeros(keys[0] ^ keys[count - 1]), 128 - window_bits);
	w.shift = 128 - shared_bits - window_bits;
	w.shared = above_window(w, keys[0]);
	w.first.assign((size_t(1) << window_bits) + 1, uint32_t(count));
	for (size_t t = count; t-- > 0;)
		w.first[window_of(w, keys[t])] = uint32_t(t);
	for (size_t v = w.first.size() - 1; v-- > 0;)
		w.first[v] = std::min(w.first[v], w.first[v + 1]);
	return w;
}

// The gap of a record whose key the window settles; false when sorted
// keys share its window and only a search tells.
static bool
settled_gap(const GapWindow &w, WideKey key, size_t &gap)
{
	WideKey above = above_window(w, key);
	if (above != w.shared) {
		gap = above < w.shared ? 0 : w.first.back();
		return true;
	}
	uint32_t v = window_of(w, key);
	gap = w.first[v];
	return w.first[v + 1] == w.first[v];
}

// The sorted records to place the others among, with their keys.
struct Placement {
	char *const *sorted;
	const WideKey *keys;
	size_t count;
	const SortField &field;
	GapWindow window;
};

// How many sorted records sort before the record or with it, by the full
// comparison from `low` on, where the keys stop telling them apart.
static size_t
count_not_after(const Placement &p, const char *record, SortKey key, size_t low)
{
	size_t high = p.count;
	while (low < high) {
		size_t mid = low + (high - low) / 2;
		SortKey at{ uint64_t(p.keys[mid] >> 64), uint64_t(p.keys[mid]) };
		if (sorts_before(record, key, p.sorted[mid], at, p.field))
			high = mid;
		else
			low = mid + 1;
	}
	return low;
}

// Records searched for together: their searches take the same steps, and
// the loads of one step don't wait on one another.
static const size_t search_batch = 16;

// Records the window left to a search, gathered for one.
struct SearchBatch {
	const char *records[search_batch];
	SortKey keys[search_batch];
	size_t size = 0;
};

// Adds each record of the batch to the count of the gap it falls in.
static void
search_gaps(const Placement &p, SearchBatch &batch, uint64_t *counts)
{
	size_t n = batch.size;
	WideKey wanted[search_batch];
	size_t base[search_batch];
	for (size_t j = 0; j < n; j++) {
		wanted[j] = wide(batch.keys[j]);
		base[j] = 0;
	}
	// The first key not below each wanted one.
	size_t left = p.count;
	for (; left > 1; left -= left / 2)
		for (size_t j = 0; j < n; j++)
			base[j] = p.keys[base[j] + left / 2] < wanted[j] ? base[j] + left / 2 : base[j];
	for (size_t j = 0; j < n; j++) {
		size_t low = base[j] + (p.keys[base[j]] < wanted[j]);
		// An equal key leaves the order to the bytes after it.
		if (low < p.count && p.keys[low] == wanted[j])
			low = count_not_after(p, batch.records[j], batch.keys[j], low);
		counts[low]++;
	}
	batch.size = 0;
}

// Adds each of the others to the count of the gap it falls in.
static void
count_range(const Placement &p, char *const *others, size_t other_count, uint64_t *counts)
{
	SearchBatch batch;
	for (size_t i = 0; i < other_count; i++) {
		if (i + search_batch < other_count)
			__builtin_prefetch(others[i + search_batch] + p.field.start);
		SortKey key = quick_key(others[i], p.field);
		size_t gap;
		if (settled_gap(p.window, wide(key), gap)) {
			counts[gap]++;
			continue;
		}
		batch.records[batch.size] = others[i];
		batch.keys[batch.size++] = key;
		if (batch.size == search_batch)
			search_gaps(p, batch, counts);
	}
	search_gaps(p, batch, counts);
}

// From this many others on, two threads count.
static const size_t two_thread_placing = 65536;

void
count_between(char *const *sorted, size_t count, char *const *others, size_t other_count,
    const SortField &field, uint64_t *counts)
{
	std::fill(counts, counts + count + 1, 0);
	if (count == 0) {
		counts[0] = other_count;
		return;
	}
	std::vector<WideKey> keys(count);
	for (size_t t = 0; t < count; t++)
		keys[t] = wide(make_key(sorted[t], field, 0));
	Placement p{ sorted, keys.data(), count, field, gap_window(keys.data(), count) };
	if (other_count < two_thread_placing) {
		count_range(p, others, other_count, counts);
		return;
	}
	std::vector<uint64_t> second_counts(count + 1, 0);
	// The first half counts into counts, the second into its own.
	run_halves(other_count, [&](size_t from, size_t to) {
		count_range(p, others + from, to - from, from == 0 ? counts : second_counts.data());
	});
	for (size_t t = 0; t <= count; t++)
		counts[t] += second_counts[t];
}
