// The side-by-side walk of two listings in one order, record against
// record, beside the partner table or without it.
#pragma once

#include <cstdint>

#include "compare/partner_table.h"

struct Listing;

// Two listings of one tree in one order hold most partners at the same
// place, give or take the records added and removed.  Listing 2 is then
// walked beside listing 1, record against record, a sequential read of
// both; only the records that fall out of step are looked up.  The walk
// goes a stretch at a time and keeps deciding: a stretch mostly out of
// step is looked up whole instead, and after each such stretch the first
// few records tell whether the listings are back in step.
//
// Which records have partners never depends on the walk: a record of
// listing 2 in step has its partner at the walk's place, whose slot holder
// is flagged as a lookup would flag it, and every other one is looked up.

// Records of listing 2 walked at a time; a stretch with more than half of
// them out of step ends the walk.
static const uint64_t walk_stretch = 4096;
// Records after a looked-up one that must mostly agree with those after
// its partner for the walk to start again.
static const uint64_t step_trial = 8;

// Four words of the field, from both ends and in between: enough to tell
// most fields apart, at a fraction of the cost of hashing them whole.
// Equal fields give equal glances, as they give equal hashes; no glance is
// zero.
inline uint32_t
glance(const KeyRule &k, const char *record)
{
	const char *p = record + k.start;
	size_t n = key_length(k, record);
	uint64_t h;
	if (n < 8) {
		h = mix(key_word(k, p, n) ^ k.seed, n ^ k.word_salt);
	} else {
		h = mix(key_word(k, p) ^ k.seed, key_word(k, p + n - 8) ^ n);
		h = mix(h ^ key_word(k, p + (n - 8) / 3), key_word(k, p + 2 * (n - 8) / 3) ^ k.word_salt);
	}
	return uint32_t(h >> 32) | 1;
}

struct Walk {
	const KeyRule *rule;
	char *const *first;
	uint64_t first_count;
	char *const *second;
	uint64_t place;		// in listing 1, of the partner the next record should have
	// What a record of listing 1 in step is flagged in: the table's flag
	// of its slot holder, or, when walked without the table, its glance,
	// taken while it is at hand (neither in a trial).
	PartnerTable *table;
	uint32_t *glances;
};

inline bool
in_step(const Walk &w, uint64_t place, uint64_t record)
{
	return place < w.first_count && same_key(*w.rule, w.first[place], w.second[record]);
}

// Walks records from..to of listing 2; those out of step go to strays.
// Returns how many did.  Stops early, at `to`, once more than half of the
// stretch is out of step.
uint64_t walk_stretch_of(Walk &w, uint64_t from, uint64_t &to, uint32_t *strays);

// Below this many records a second thread costs more than it saves.
static const uint64_t two_thread_count = 65536;

// Finds the partners of listing 2's records by the filled table, walking
// where the listings are in step, and flags those without one.
void match_all(PartnerTable &t, const Listing &first, const Listing &second,
    unsigned char *unmatched);
