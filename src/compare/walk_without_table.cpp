#include "compare/walk_without_table.h"

#include <atomic>
#include <vector>

#include "compare/walk.h"
#include "loader/inputs.h"
#include "platform/threads.h"

// Listings in one order need no table at all: the walk leaves few
// records out of step on either side, and only those have to be told
// apart.  A record of listing 2 out of step has a partner when a record
// of listing 1 out of step has its field, or a record in step does, whose
// partner in listing 2 has it too; the same holds the other way.  So the
// records out of step go into a small table of their own, keyed by field
// and flagged by the listings that hold it, and one pass over listing 1's
// records in step flags the fields they share with it as held by both.
// The table's fill, begun while listing 2 loaded, then stops.  This way is
// taken when the first records are in step, and left for the walk beside
// the table, its fill taken up again, once a stretch is mostly out of
// step.

// Records of listing 2 that must be nearly all in step with listing 1's
// first records for the listings to be walked without the table.  The
// records out of step cost a random access or two each there, not
// overlapped as the lookups are: beyond one in sixteen, on the walk so
// far, the walk beside the table is the faster.
static const uint64_t trial_records = 1024;
static const uint64_t loose_share = 16;

bool
first_records_in_step(const KeyRule &rule, const Listing &first, const Listing &second)
{
	uint64_t count = std::min(trial_records, second.count);
	Walk w{ &rule, first.table.entries, first.count, second.table.entries, 0, nullptr, nullptr };
	uint32_t strays[trial_records];
	uint64_t walked_to = count;
	return count > 0 && 2 * loose_share * walk_stretch_of(w, 0, walked_to, strays) <= count;
}

// A record of the second half of listing 2, from `half` on, whose partner
// and the records after both are in step, near where listing 1 is as far
// along: where the second thread's walk starts.  False when none is
// found near.
static bool
find_second_start(Walk &w, uint64_t second_count, uint64_t half, uint64_t &start)
{
	uint64_t guess = w.first_count * half / second_count;
	uint64_t from = guess > walk_stretch ? guess - walk_stretch : 0;
	uint64_t to = std::min(w.first_count, guess + walk_stretch);
	for (uint64_t j = half; j < std::min(half + step_trial, second_count - 1); j++)
		for (uint64_t place = from; place < to; place++)
			if (in_step(w, place, j) && in_step(w, place + 1, j + 1)) {
				w.place = place;
				start = j;
				return true;
			}
	return false;
}

// The walk of records from..to of listing 2 without the table; those out
// of step are added to strays.  False when a stretch is mostly out of
// step, or too many are on the whole, here or on the other thread.
static bool
walk_loosely(Walk &w, uint64_t from, uint64_t to, std::vector<uint32_t> &strays,
    std::atomic<bool> &given_up)
{
	uint32_t stretch_strays[walk_stretch];
	for (uint64_t j = from; j < to && !given_up; j = std::min(to, j + walk_stretch)) {
		uint64_t end = std::min(to, j + walk_stretch), walked_to = end;
		uint64_t count = walk_stretch_of(w, j, walked_to, stretch_strays);
		strays.insert(strays.end(), stretch_strays, stretch_strays + count);
		if (walked_to < end || 2 * count > end - j ||
		    loose_share * strays.size() > end - from + walk_stretch) {
			given_up = true;
			return false;
		}
	}
	return !given_up;
}

// A field held by records out of step, and which listings hold it.
struct LooseField {
	const char *record = nullptr;
	uint64_t hash = 0;
	unsigned char in_first = 0, in_second = 0;
};

struct LooseTable {
	const KeyRule *rule;
	std::vector<LooseField> fields;
	uint64_t mask;
	// One bit per glance at a field in the table: most fields of listing
	// 1 are told to be none of them from the bit alone.
	std::vector<uint64_t> glanced;
	uint64_t glance_mask;
};

static bool
may_be_loose(const LooseTable &t, uint32_t glanced)
{
	uint64_t bit = (glanced >> 1) & t.glance_mask;
	return (t.glanced[bit / 64] >> (bit % 64)) & 1;
}

// The field of the record in the table, or the free place where it goes.
static LooseField &
loose_field(LooseTable &t, const char *record, uint64_t hash)
{
	for (uint64_t s = hash & t.mask;; s = (s + 1) & t.mask) {
		LooseField &f = t.fields[s];
		if (!f.record || (f.hash == hash && same_key(*t.rule, f.record, record)))
			return f;
	}
}

static LooseField &
add_loose_field(LooseTable &t, const char *record)
{
	uint64_t hash = hash_key(*t.rule, record);
	LooseField &f = loose_field(t, record, hash);
	if (!f.record) {
		f.record = record;
		f.hash = hash;
		uint64_t bit = (glance(*t.rule, record) >> 1) & t.glance_mask;
		t.glanced[bit / 64] |= uint64_t(1) << (bit % 64);
	}
	return f;
}

// Flags the fields of the table that records from..to of listing 1 in
// step hold: their partners hold them too.
static void
flag_fields_in_step(LooseTable &t, char *const *first, const uint32_t *glances,
    uint64_t from, uint64_t to)
{
	for (uint64_t i = from; i < to; i++)
		if (glances[i] && may_be_loose(t, glances[i])) {
			LooseField &f = loose_field(t, first[i], hash_key(*t.rule, first[i]));
			if (f.record) {
				__atomic_store_n(&f.in_first, 1, __ATOMIC_RELAXED);
				__atomic_store_n(&f.in_second, 1, __ATOMIC_RELAXED);
			}
		}
}

static void
settle_strays(const KeyRule &rule, const Listing &first, const Listing &second,
    const uint32_t *glances, const std::vector<uint32_t> &strays, unsigned char *unmatched_first,
    unsigned char *unmatched_second)
{
	char *const *entries = first.table.entries;
	uint64_t loose = strays.size();
	for (uint64_t i = 0; i < first.count; i++)
		loose += !glances[i];
	if (loose == 0)
		return;
	LooseTable t{ &rule, {}, 0, {}, 0 };
	uint64_t size = 16;
	while (size < 2 * loose)
		size *= 2;
	t.fields.resize(size_t(size));
	t.mask = size - 1;
	t.glanced.resize(size_t(size));
	t.glance_mask = 64 * size - 1;
	for (uint64_t i = 0; i < first.count; i++)
		if (!glances[i])
			add_loose_field(t, entries[i]).in_first = 1;
	for (uint32_t j : strays)
		add_loose_field(t, second.table.entries[j]).in_second = 1;
	uint64_t half = first.count / 2;
	if (first.count < two_thread_count)
		flag_fields_in_step(t, entries, glances, 0, first.count);
	else
		run_two([&] { flag_fields_in_step(t, entries, glances, half, first.count); },
		    [&] { flag_fields_in_step(t, entries, glances, 0, half); });
	for (uint64_t i = 0; i < first.count; i++)
		if (!glances[i])
			unmatched_first[i] = !add_loose_field(t, entries[i]).in_second;
	for (uint32_t j : strays)
		unmatched_second[j] = !add_loose_field(t, second.table.entries[j]).in_first;
}

bool
match_without_table(const KeyRule &rule, const Listing &first, const Listing &second,
    unsigned char *unmatched_first, unsigned char *unmatched_second)
{
	std::vector<uint32_t> glances(size_t(first.count), 0);
	std::vector<uint32_t> strays, second_strays;
	std::atomic<bool> given_up{ false };
	Walk w{ &rule, first.table.entries, first.count, second.table.entries, 0, nullptr,
	    glances.data() };
	Walk other = w;
	uint64_t start = second.count;
	if (second.count >= two_thread_count &&
	    find_second_start(other, second.count, second.count / 2, start)) {
		bool walked_other = false;
		run_two([&] { walked_other = walk_loosely(other, start, second.count, second_strays, given_up); },
		    [&] { walk_loosely(w, 0, start, strays, given_up); });
		if (!walked_other || given_up)
			return false;
		strays.insert(strays.end(), second_strays.begin(), second_strays.end());
	} else if (!walk_loosely(w, 0, second.count, strays, given_up)) {
		return false;
	}
	settle_strays(rule, first, second, glances.data(), strays, unmatched_first, unmatched_second);
	return true;
}
