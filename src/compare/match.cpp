#include "compare/match.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "bytes.h"
#include "loader/inputs.h"
#include "platform/memory.h"
#include "platform/threads.h"
#include "run_state.h"

// What makes a record's key: the compare field the table was filled by,
// and the hash seeds.
struct KeyRule {
	CompareField field;
	size_t start = 0;
	size_t length = 0;
	size_t last_offset = 0;	// of the field's last character in most records
	uint64_t seed = 0;
	uint64_t word_salt = 0;	// mixed into every full pair of words
	uint64_t tail_salt = 0;	// and into the words that end the field
};

__extension__ typedef unsigned __int128 product_t;

static uint64_t
mix(uint64_t a, uint64_t b)
{
	product_t p = product_t(a) * b;
	return uint64_t(p) ^ uint64_t(p >> 64);
}

// The seed differs from run to run, so that no listing can be made to
// crowd the table on purpose.
static uint64_t
run_seed()
{
	static const uint64_t seed = mix(
	    uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ 0x9e3779b97f4a7c15ull,
	    reinterpret_cast<uintptr_t>(&seed) | 1);
	return seed;
}

static KeyRule
key_rule(const CompareField &field)
{
	KeyRule k;
	k.field = field;
	k.start = size_t(std::max(field.field_start, 0));
	k.length = size_t(std::max(field.compare_length, 0));
	size_t record_length = size_t(std::max(field.record_length, 0));
	size_t tail = record_length > k.start ? record_length - k.start : 0;
	k.last_offset = std::min(k.length, tail) > 0 ? std::min(k.length, tail) - 1 : 0;
	k.seed = run_seed();
	k.word_salt = mix(k.seed, 0xa0761d6478bd642full);
	k.tail_salt = mix(k.seed, 0xe7037ed1a0b428dbull);
	return k;
}

static bool
same_rule(const KeyRule &a, const KeyRule &b)
{
	return a.start == b.start && a.length == b.length &&
	    a.field.record_length == b.field.record_length && a.field.fold == b.field.fold;
}

// The characters of the compare field: compare_length of them, or fewer
// where the record ends first.  A first record without headers keeps its
// own length when longer, and reads as zeros up to the record length when
// shorter.
static size_t
key_length(const KeyRule &k, const char *record)
{
	size_t end = std::max(size_t(std::max(k.field.record_length, 0)),
	    record_span(k.field, record));
	return end > k.start ? std::min(k.length, end - k.start) : 0;
}

// Eight characters as they are hashed.  Folded, with the case bit of
// every byte set: fields that are equal with A to Z folded agree in every
// other bit, and a few more that are not (say "@" and "`") share a hash,
// which the comparison then tells apart; this is a third of the cost of
// folding.
static uint64_t
key_word(const KeyRule &k, const char *p, size_t n = 8)
{
	uint64_t w = 0;
	memcpy(&w, p, n);
	return k.field.fold ? w | 0x2020202020202020ull : w;
}

static uint64_t
hash_key(const KeyRule &k, const char *record)
{
	const char *p = record + k.start;
	size_t n = key_length(k, record);
	uint64_t h = k.seed ^ n;
	size_t i = 0;
	for (; i + 16 <= n; i += 16)
		h = mix(key_word(k, p + i) ^ k.word_salt, key_word(k, p + i + 8) ^ h);
	if (i < n) {
		// The last characters as words that end where the field ends.
		uint64_t a, b = 0;
		if (n >= 16) {
			a = key_word(k, p + n - 16);
			b = key_word(k, p + n - 8);
		} else if (n >= 8) {
			a = key_word(k, p);
			b = key_word(k, p + n - 8);
		} else {
			a = key_word(k, p, n);
		}
		h = mix(a ^ k.tail_salt, b ^ h);
	}
	return mix(h ^ k.word_salt, 0x9fb21c651e98df25ull);
}

// Zero bytes occur in a compare field only in a first record without
// headers, and from there to its end, so comparing whole fields finds
// what comparing up to a zero byte finds.
static bool
same_key(const KeyRule &k, const char *a, const char *b)
{
	size_t n = key_length(k, a);
	if (n != key_length(k, b))
		return false;
	// Fields the same byte for byte are the same folded too: most
	// partners are, and the library comparison is the faster.
	if (memcmp(a + k.start, b + k.start, n) == 0)
		return true;
	return k.field.fold && compare_nocase_readable(a + k.start, b + k.start, n) == 0;
}

// Listing 1's records by hash.  A slot holds, from the top bit down: a
// one, eight more bits of the hash, the index of the record that took the
// slot for its compare field and where that record lies in listing 1's
// buffer, so that a lookup reaches the record straight from the slot.  A
// zero slot is free; the table is never more than three quarters full.
struct PartnerTable {
	KeyRule rule;
	const char *base = nullptr;	// listing 1's buffer
	uint64_t *slots = nullptr;
	uint64_t mask = 0;
	size_t slot_bytes = 0;
	// Per record: the index of the record with the same compare field
	// that holds the slot.  Of equal records, that is the one whose insert
	// came first, which with two threads filling is not always the one
	// that comes first in the listing.
	uint32_t *slot_holder = nullptr;
	unsigned char *matched = nullptr;	// per slot holder: found in listing 2
	size_t record_bytes = 0;
};

static const uint64_t slot_taken = uint64_t(1) << 63;
static const int index_bits = 23;
// Where a slot says its record lies when that is the unheaded first record.
static const uint32_t outside_buffer = 0xffffffffu;
static_assert(max_records < (uint64_t(1) << index_bits), "a record index must fit in a slot");

static PartnerTable table;

static void
free_table(PartnerTable &t)
{
	release_populated(t.slots, t.slot_bytes);
	release_populated(t.matched, t.record_bytes);
	free(t.slot_holder);
	t.slots = nullptr;
	t.matched = nullptr;
	t.slot_holder = nullptr;
}

// The slots and flags are written at random, so their pages are put in
// place first: a page first read and then written costs a second fault,
// and with two threads running, a round of interrupts to the other
// processor.
static bool
allocate_table(PartnerTable &t, uint64_t count)
{
	uint64_t slots = 16;
	while (slots < count + count / 3)
		slots *= 2;
	t.mask = slots - 1;
	t.slot_bytes = size_t(slots) * sizeof *t.slots;
	t.record_bytes = size_t(std::max<uint64_t>(count, 1));
	t.slots = static_cast<uint64_t *>(allocate_populated(t.slot_bytes));
	t.matched = static_cast<unsigned char *>(allocate_populated(t.record_bytes));
	t.slot_holder = static_cast<uint32_t *>(malloc(t.record_bytes * sizeof *t.slot_holder));
	if (t.slots && t.matched && t.slot_holder)
		return true;
	free_table(t);
	return false;
}

static uint64_t
make_slot(const PartnerTable &t, const char *record, uint64_t index, uint64_t hash)
{
	uint64_t place = is_unheaded_first(t.rule.field, record) ? outside_buffer :
	    uint64_t(record - t.base);
	return slot_taken | (hash >> 56 << 55) | (index << 32) | place;
}

static const char *
slot_record(const PartnerTable &t, uint64_t slot)
{
	uint32_t place = uint32_t(slot);
	return place == outside_buffer ? unheaded_first(t.rule.field, 1) : t.base + place;
}

static uint64_t
slot_index(uint64_t slot)
{
	return (slot >> 32) & ((uint64_t(1) << index_bits) - 1);
}

// Whether the slot may hold the hash: the slot's position comes from the
// low bits of a hash, these eight from its top.
static bool
may_hold(uint64_t slot, uint64_t hash)
{
	return ((slot >> 55) & 0xff) == (hash >> 56);
}

// Two threads may fill the table at once: a free slot is taken with a
// compare-and-swap, and a thread that loses it looks at what the other put
// there, which may be its own compare field.
static void
insert_record(PartnerTable &t, const char *record, uint64_t index, uint64_t hash)
{
	for (uint64_t s = hash & t.mask;; s = (s + 1) & t.mask) {
		uint64_t slot = __atomic_load_n(&t.slots[s], __ATOMIC_RELAXED);
		if (slot == 0) {
			uint64_t mine = make_slot(t, record, index, hash);
			if (__atomic_compare_exchange_n(&t.slots[s], &slot, mine, false,
			    __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
				t.slot_holder[index] = uint32_t(index);
				return;
			}
		}
		if (may_hold(slot, hash) && same_key(t.rule, slot_record(t, slot), record)) {
			t.slot_holder[index] = uint32_t(slot_index(slot));
			return;
		}
	}
}

// A record is hashed this many turns before its slot is used, so that the
// slot has arrived from memory by then; a lookup takes two such spans,
// one for the slot and one for the record it names.
static const uint64_t prefetch_distance = 16;
static const uint64_t hash_ring_size = 64;

static void
fill_range(PartnerTable &t, char *const *entries, uint64_t from, uint64_t to)
{
	uint64_t hashes[hash_ring_size];
	for (uint64_t i = from; i < to + prefetch_distance; i++) {
		if (i >= from + prefetch_distance) {
			uint64_t k = i - prefetch_distance;
			insert_record(t, entries[k], k, hashes[k % hash_ring_size]);
		}
		if (i < to) {
			hashes[i % hash_ring_size] = hash_key(t.rule, entries[i]);
			__builtin_prefetch(&t.slots[hashes[i % hash_ring_size] & t.mask]);
		}
	}
}

static bool
fill_table(PartnerTable &t, char *const *entries, uint64_t count)
{
	if (!allocate_table(t, count))
		return false;
	fill_range(t, entries, 0, count);
	return true;
}

// The slot of listing 1's record with the same compare field as the
// record, or 0 when there is none.
static uint64_t
find_slot(const PartnerTable &t, const char *record, uint64_t hash)
{
	for (uint64_t s = hash & t.mask;; s = (s + 1) & t.mask) {
		uint64_t slot = t.slots[s];
		if (slot == 0 || (may_hold(slot, hash) && same_key(t.rule, slot_record(t, slot), record)))
			return slot;
	}
}

static void
fetch_named_record(const PartnerTable &t, uint64_t hash)
{
	if (uint64_t slot = t.slots[hash & t.mask]) {
		const char *field = slot_record(t, slot) + t.rule.start;
		__builtin_prefetch(field);
		__builtin_prefetch(field + t.rule.last_offset);
	}
}

// Looks up records from..to of listing 2 and flags those without a
// partner.
static void
look_up_range(PartnerTable &t, char *const *second, uint64_t from, uint64_t to,
    unsigned char *unmatched)
{
	uint64_t hashes[hash_ring_size];
	for (uint64_t i = from; i < to + 2 * prefetch_distance; i++) {
		if (i < to) {
			hashes[i % hash_ring_size] = hash_key(t.rule, second[i]);
			__builtin_prefetch(&t.slots[hashes[i % hash_ring_size] & t.mask]);
		}
		if (i >= from + prefetch_distance && i - prefetch_distance < to)
			fetch_named_record(t, hashes[(i - prefetch_distance) % hash_ring_size]);
		if (i >= from + 2 * prefetch_distance) {
			uint64_t k = i - 2 * prefetch_distance;
			uint64_t slot = find_slot(t, second[k], hashes[k % hash_ring_size]);
			unmatched[k] = slot == 0;
			if (slot != 0)
				__atomic_store_n(&t.matched[slot_index(slot)], 1, __ATOMIC_RELAXED);
		}
	}
}

// Below this many records a second thread costs more than it saves.
static const uint64_t two_thread_count = 65536;

static void
look_up_all(PartnerTable &t, const Listing &second, unsigned char *unmatched)
{
	char *const *entries = second.table.entries;
	uint64_t count = second.count;
	if (count < two_thread_count) {
		look_up_range(t, entries, 0, count, unmatched);
		return;
	}
	uint64_t half = count / 2;
	run_two([&] { look_up_range(t, entries, half, count, unmatched); },
	    [&] { look_up_range(t, entries, 0, half, unmatched); });
}

static std::vector<unsigned char> unmatched[2];

// Listing 1's records go into the table in chunks, on a second thread
// while listing 2 loads, then on both.  Only atomics are shared, so that a
// run that ends meanwhile destroys nothing the second thread still uses.
enum TableState { table_pending, table_ready, table_missing };
struct FillShare {
	char *const *entries = nullptr;
	uint64_t count = 0;
	std::atomic<uint64_t> next{ 0 };
	std::atomic<int> state{ table_pending };
};
static FillShare fill_share;

static const uint64_t chunk_size = 16384;

static void
fill_chunks(FillShare &share)
{
	for (uint64_t from; (from = share.next.fetch_add(chunk_size)) < share.count;)
		fill_range(table, share.entries, from, std::min(share.count, from + chunk_size));
}

static void
fill_in_background(FillShare &share)
{
	bool allocated = allocate_table(table, share.count);
	share.state = allocated ? table_ready : table_missing;
	share.state.notify_all();
	if (allocated)
		fill_chunks(share);
}

static void
aim_table_at(PartnerTable &t, const Listing &first, const KeyRule &rule)
{
	t.rule = rule;
	t.base = first.buffer;
}

Background
start_matching(const Listing &first, const CompareField &field)
{
	aim_table_at(table, first, key_rule(field));
	fill_share.entries = first.table.entries;
	fill_share.count = first.count;
	fill_share.next = 0;
	fill_share.state = table_pending;
	return start_background([] { fill_in_background(fill_share); });
}

// Takes the chunks left of the background fill and waits for the rest;
// true when the table is filled by the rule given.
static bool
finish_background_fill(Background &fill, const KeyRule &rule)
{
	fill_share.state.wait(table_pending);
	bool allocated = fill_share.state == table_ready;
	// Under -h listing 2 may have its hash elsewhere; the table is filled
	// anew then.
	bool same = same_rule(table.rule, rule);
	if (allocated && same)
		fill_chunks(fill_share);
	else
		fill_share.next = fill_share.count;
	wait_for(fill);
	return allocated && same;
}

void
finish_matching(Background &fill, const Listing &first, const Listing &second,
    const CompareField &field)
{
	KeyRule rule = key_rule(field);
	bool filled = finish_background_fill(fill, rule);
	aim_table_at(table, first, rule);
	if (!filled) {
		free_table(table);
		filled = fill_table(table, first.table.entries, first.count);
	}
	if (!filled)
		fail_table_memory();
	try {
		unmatched[0].assign(size_t(first.count), 0);
		unmatched[1].assign(size_t(second.count), 0);
	} catch (const std::bad_alloc &) {
		fail_table_memory();
	}
	look_up_all(table, second, unmatched[1].data());
	for (uint64_t i = 0; i < first.count; i++)
		unmatched[0][i] = !table.matched[table.slot_holder[i]];
	free_table(table);
}

const unsigned char *
unmatched_records(int number)
{
	return unmatched[number - 1].data();
}
