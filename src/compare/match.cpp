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

// The record of listing 2 that a lookup takes k-th: the k-th of those
// picked, or the k-th of the listing when none are.
static uint64_t
looked_up(const uint32_t *picked, uint64_t k)
{
	return picked ? picked[k] : k;
}

// Looks up records from..to of listing 2, or those picked out of it
// (picked[from..to]), and flags those without a partner.
static void
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
// Records looked up at a time while the listings are not in step.
static const uint64_t lookup_stretch = 16384;
// How far past a record out of step the walk looks, in both listings at
// once, for the place where the two agree again; and how far in one of
// them alone, for a run of records added or removed.
static const uint64_t look_ahead = 4;
static const uint64_t look_far = 64;
// Records after a looked-up one that must mostly agree with those after
// its partner for the walk to start again.
static const uint64_t step_trial = 8;

// Four words of the field, from both ends and in between: enough to tell
// most fields apart, at a fraction of the cost of hashing them whole.
// Equal fields give equal glances, as they give equal hashes; no glance is
// zero.
static uint32_t
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

static bool
in_step(const Walk &w, uint64_t place, uint64_t record)
{
	return place < w.first_count && same_key(*w.rule, w.first[place], w.second[record]);
}

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

// Walks records from..to of listing 2; those out of step go to strays.
// Returns how many did.  Stops early, at `to`, once more than half of the
// stretch is out of step.
static uint64_t
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

// Below this many records a second thread costs more than it saves.
static const uint64_t two_thread_count = 65536;

static void
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

static std::vector<unsigned char> unmatched[2];

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

static bool
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
    const uint32_t *glances, const std::vector<uint32_t> &strays)
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
			unmatched[0][i] = !add_loose_field(t, entries[i]).in_second;
	for (uint32_t j : strays)
		unmatched[1][j] = !add_loose_field(t, second.table.entries[j]).in_first;
}

// Finds every partner by the walk alone; false when the listings fall out
// of step, which leaves the flags as they were.
static bool
match_without_table(const KeyRule &rule, const Listing &first, const Listing &second)
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
	settle_strays(rule, first, second, glances.data(), strays);
	return true;
}

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
	t.base = first.widened ? first.widened : first.buffer;
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

void
stop_matching(Background &fill)
{
	fill_share.state.wait(table_pending);
	fill_share.next = fill_share.count;
	wait_for(fill);
}

// Takes the chunks left of the background fill and waits for the rest,
// or stops it where it is when the listings are walked without the table;
// true when the table is filled by the rule given, up to filled_to.
static bool
finish_background_fill(Background &fill, const KeyRule &rule, bool stop, uint64_t &filled_to)
{
	fill_share.state.wait(table_pending);
	bool allocated = fill_share.state == table_ready;
	// Under -h listing 2 may have its hash elsewhere; the table is filled
	// anew then.
	bool same = same_rule(table.rule, rule);
	if (allocated && same && !stop)
		fill_chunks(fill_share);
	filled_to = std::min(fill_share.next.exchange(fill_share.count), fill_share.count);
	wait_for(fill);
	return allocated && same;
}

void
finish_matching(Background &fill, const Listing &first, const Listing &second,
    const CompareField &field)
{
	KeyRule rule = key_rule(field);
	try {
		unmatched[0].assign(size_t(first.count), 0);
		unmatched[1].assign(size_t(second.count), 0);
	} catch (const std::bad_alloc &) {
		fail_table_memory();
	}
	bool in_step = first_records_in_step(rule, first, second);
	uint64_t filled_to = 0;
	bool filled = finish_background_fill(fill, rule, in_step, filled_to);
	if (in_step && match_without_table(rule, first, second)) {
		free_table(table);
		return;
	}
	aim_table_at(table, first, rule);
	if (filled && filled_to < first.count) {
		fill_share.next = filled_to;
		run_two([] { fill_chunks(fill_share); }, [] { fill_chunks(fill_share); });
	}
	if (!filled) {
		free_table(table);
		filled = fill_table(table, first.table.entries, first.count);
	}
	if (!filled)
		fail_table_memory();
	match_all(table, first, second, unmatched[1].data());
	for (uint64_t i = 0; i < first.count; i++)
		unmatched[0][i] = !table.matched[table.slot_holder[i]];
	free_table(table);
}

const unsigned char *
unmatched_records(int number)
{
	return unmatched[number - 1].data();
}
