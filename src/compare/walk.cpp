#include "compare/walk.h"

#include "loader/inputs.h"
#include "platform/threads.h"

// Records looked up at a time while the listings are not in step.
static const uint64_t lookup_stretch = 16384;
// How far past a record out of step the walk looks, in both listings at
// once, for the place where the two agree again; and how far in one of
// them alone, for a run of records added or removed.
static const uint64_t look_ahead = 4;
static const uint64_t look_far = 64;

static void
flag_in_step(const Walk &w, uint64_t place)
{
	if (w.glances)
		__atomic_store_n(&w.glances[place], glance(*w.rule, w.first[place]), __ATOMIC_RELAXED);
	else if (w.table)
		__atomic_store_n(&w.table->matched[w.table->slot_holder[place]], 1, __ATOMIC_RELAXED);
}

// The walk disagrees at record j of listing 2 (below `to`): returns how
// many records of listing 1 (in `passed`) and of listing 2 to pass over
// to the nearest place where the two agree, or one record of listing 2
// when none lies within reach.
static uint64_t
catch_step(const Walk &w, uint64_t j, uint64_t to, uint64_t &passed)
{
	passed = 0;
	for (uint64_t distance = 1; distance <= 2 * look_ahead; distance++)
		for (uint64_t b = distance > look_ahead ? distance - look_ahead : 0;
		    b <= std::min(distance, look_ahead) && j + b < to; b++)
			if (in_step(w, w.place + distance - b, j + b)) {
				passed = distance - b;
				return b;
			}
	for (uint64_t distance = look_ahead + 1; distance <= look_far; distance++) {
		if (in_step(w, w.place + distance, j)) {
			passed = distance;
			return 0;
		}
		if (j + distance < to && in_step(w, w.place, j + distance))
			return distance;
	}
	return 1;
}

uint64_t
walk_stretch_of(Walk &w, uint64_t from, uint64_t &to, uint32_t *strays)
{
	uint64_t stray_count = 0;
	for (uint64_t j = from; j < to;) {
		if (2 * stray_count > to - from) {
			to = j;
			break;
		}
		if (in_step(w, w.place, j)) {
			flag_in_step(w, w.place);
			w.place++;
			j++;
			continue;
		}
		uint64_t passed;
		for (uint64_t out = catch_step(w, j, to, passed); out > 0; out--)
			strays[stray_count++] = uint32_t(j++);
		w.place += passed;
	}
	return stray_count;
}

// Whether the walk can start again at record j of listing 2: its partner
// is looked up, and most records after it agree with those after the
// partner.
static bool
regain_step(const PartnerTable &t, Walk &w, uint64_t j, uint64_t to)
{
	uint64_t trials = std::min(step_trial, to - std::min(to, j + 1));
	if (trials == 0)
		return false;
	uint64_t slot = find_slot(t, w.second[j], hash_key(t.rule, w.second[j]));
	if (slot == 0)
		return false;
	uint64_t place = slot_index(slot), agreed = 0;
	for (uint64_t d = 1; d <= trials; d++)
		agreed += in_step(w, place + d, j + d);
	if (4 * agreed < 3 * trials)
		return false;
	w.place = place;
	return true;
}

// Finds the partners of records from..to of listing 2, walking from
// listing 1's record `place` on.
static void
match_range(PartnerTable &t, const Listing &first, const Listing &second, uint64_t from,
    uint64_t to, uint64_t place, unsigned char *unmatched)
{
	Walk w{ &t.rule, first.table.entries, first.count, second.table.entries, place, &t, nullptr };
	uint32_t strays[walk_stretch];
	bool walking = true;
	for (uint64_t j = from; j < to;) {
		if (walking) {
			uint64_t end = std::min(to, j + walk_stretch), walked_to = end;
			uint64_t stray_count = walk_stretch_of(w, j, walked_to, strays);
			look_up_range(t, w.second, strays, 0, stray_count, unmatched);
			walking = walked_to == end && 2 * stray_count <= end - j;
			j = walked_to;
		} else {
			uint64_t end = std::min(to, j + lookup_stretch);
			look_up_range(t, w.second, nullptr, j, end, unmatched);
			j = end;
			walking = j < to && regain_step(t, w, j, to);
		}
	}
}

// Where in listing 1 the walk of listing 2 from record j starts: at the
// partner of record j, or where listing 1 is as far along as listing 2.
static uint64_t
walk_start(const PartnerTable &t, const Listing &first, const Listing &second, uint64_t j)
{
	const char *record = second.table.entries[j];
	if (uint64_t slot = find_slot(t, record, hash_key(t.rule, record)))
		return slot_index(slot);
	return first.count * j / second.count;
}

void
match_all(PartnerTable &t, const Listing &first, const Listing &second, unsigned char *unmatched)
{
	uint64_t count = second.count;
	if (count < two_thread_count) {
		match_range(t, first, second, 0, count, 0, unmatched);
		return;
	}
	uint64_t half = count / 2;
	uint64_t place = walk_start(t, first, second, half);
	run_two([&] { match_range(t, first, second, half, count, place, unmatched); },
	    [&] { match_range(t, first, second, 0, half, 0, unmatched); });
}
