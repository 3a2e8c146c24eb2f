#include "compare/partner_table.h"

#include <cstdlib>

#include "platform/memory.h"

void
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
bool
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

void
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

bool
fill_table(PartnerTable &t, char *const *entries, uint64_t count)
{
	if (!allocate_table(t, count))
		return false;
	fill_range(t, entries, 0, count);
	return true;
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

// The record of listing 2 that a lookup takes k-th: the k-th of those
// picked, or the k-th of the listing when none are.
static uint64_t
looked_up(const uint32_t *picked, uint64_t k)
{
	return picked ? picked[k] : k;
}

void
look_up_range(PartnerTable &t, char *const *second, const uint32_t *picked, uint64_t from,
    uint64_t to, unsigned char *unmatched)
{
	uint64_t hashes[hash_ring_size];
	for (uint64_t i = from; i < to + 2 * prefetch_distance; i++) {
		if (i < to) {
			hashes[i % hash_ring_size] = hash_key(t.rule, second[looked_up(picked, i)]);
			__builtin_prefetch(&t.slots[hashes[i % hash_ring_size] & t.mask]);
		}
		if (i >= from + prefetch_distance && i - prefetch_distance < to)
			fetch_named_record(t, hashes[(i - prefetch_distance) % hash_ring_size]);
		if (i >= from + 2 * prefetch_distance) {
			uint64_t k = i - 2 * prefetch_distance;
			uint64_t r = looked_up(picked, k);
			uint64_t slot = find_slot(t, second[r], hashes[k % hash_ring_size]);
			unmatched[r] = slot == 0;
			if (slot != 0)
				__atomic_store_n(&t.matched[slot_index(slot)], 1, __ATOMIC_RELAXED);
		}
	}
}
