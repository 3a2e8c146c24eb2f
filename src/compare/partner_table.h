// Listing 1's records in a hash table by their compare field, filled on
// one or two threads, and the lookups of listing 2's records in it.
#pragma once

#include <cstdint>

#include "compare/match_key.h"
#include "run_state.h"

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

inline const char *
slot_record(const PartnerTable &t, uint64_t slot)
{
	uint32_t place = uint32_t(slot);
	return place == outside_buffer ? unheaded_first(t.rule.field, 1) : t.base + place;
}

inline uint64_t
slot_index(uint64_t slot)
{
	return (slot >> 32) & ((uint64_t(1) << index_bits) - 1);
}

// Whether the slot may hold the hash: the slot's position comes from the
// low bits of a hash, these eight from its top.
inline bool
may_hold(uint64_t slot, uint64_t hash)
{
	return ((slot >> 55) & 0xff) == (hash >> 56);
}

// The slot of listing 1's record with the same compare field as the
// record, or 0 when there is none.
inline uint64_t
find_slot(const PartnerTable &t, const char *record, uint64_t hash)
{
	for (uint64_t s = hash & t.mask;; s = (s + 1) & t.mask) {
		uint64_t slot = t.slots[s];
		if (slot == 0 || (may_hold(slot, hash) && same_key(t.rule, slot_record(t, slot), record)))
			return slot;
	}
}

void free_table(PartnerTable &t);

// Makes room for a table of `count` records; false when the memory can't
// be had, with nothing held.
bool allocate_table(PartnerTable &t, uint64_t count);

// Puts records from..to of listing 1 into the table.
void fill_range(PartnerTable &t, char *const *entries, uint64_t from, uint64_t to);

bool fill_table(PartnerTable &t, char *const *entries, uint64_t count);

// Looks up records from..to of listing 2, or those picked out of it
// (picked[from..to]), and flags those without a partner.
void look_up_range(PartnerTable &t, char *const *second, const uint32_t *picked, uint64_t from,
    uint64_t to, unsigned char *unmatched);
