#include "compare/match.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <future>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "loader/prepare.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "run_state.h"

// What makes a record's key: the settings as they were when the table was
// filled, so that the thread filling it never reads them while listing 2
// loads, and the hash seeds.
struct KeyRule {
	size_t start = 0;
	size_t length = 0;
	size_t record_length = 0;
	bool fold = false;
	const char *copies[2] = {};	// first records without headers
	size_t reach = 0;	// the last character of most fields
	uint64_t seed = 0;
	uint64_t k1 = 0;
	uint64_t k2 = 0;
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
rule_in_force()
{
	KeyRule k;
	k.start = size_t(std::max(settings.field_start, 0));
	k.length = size_t(std::max(settings.compare_length, 0));
	k.record_length = size_t(std::max(settings.record_length, 0));
	k.fold = !settings.match_case;
	size_t tail = k.record_length > k.start ? k.record_length - k.start : 0;
	k.reach = std::min(k.length, tail) > 0 ? std::min(k.length, tail) - 1 : 0;
	k.copies[0] = listings[0].first_copy;
	k.copies[1] = listings[1].first_copy;
	k.seed = run_seed();
	k.k1 = mix(k.seed, 0xa0761d6478bd642full);
	k.k2 = mix(k.seed, 0xe7037ed1a0b428dbull);
	return k;
}

static bool
same_rule(const KeyRule &a, const KeyRule &b)
{
	return a.start == b.start && a.length == b.length &&
	    a.record_length == b.record_length && a.fold == b.fold;
}

// The characters of the compare field: compare_length of them, or fewer
// where the record ends first.  A first record without headers keeps its
// own length when longer, and reads as zeros up to the record length when
// shorter.
static size_t
key_length(const KeyRule &k, const char *record)
{
	size_t end = k.record_length;
	if (record == k.copies[0] || record == k.copies[1])
		end = std::max(end, strlen(record));
	return end > k.start ? std::min(k.length, end - k.start) : 0;
}

// Eight characters with A to Z folded to lower case.
static uint64_t
fold_word(uint64_t w)
{
	const uint64_t ones = 0x0101010101010101ull;
	uint64_t low = w & (0x7f * ones);
	uint64_t from_a = low + (0x80 - 'A') * ones;	// top bit set from 'A' on
	uint64_t past_z = low + (0x80 - 'Z' - 1) * ones;	// top bit set past 'Z'
	uint64_t upper = from_a & ~past_z & ~w & (0x80 * ones);
	return w | (upper >> 2);
}

static uint64_t
key_word(const KeyRule &k, const char *p, size_t n = 8)
{
	uint64_t w = 0;
	memcpy(&w, p, n);
	return k.fold ? fold_word(w) : w;
}

static uint64_t
hash_key(const KeyRule &k, const char *record)
{
	const char *p = record + k.start;
	size_t n = key_length(k, record);
	uint64_t h = k.seed ^ n;
	size_t i = 0;
	for (; i + 16 <= n; i += 16)
		h = mix(key_word(k, p + i) ^ k.k1, key_word(k, p + i + 8) ^ h);
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
		h = mix(a ^ k.k2, b ^ h);
	}
	return mix(h ^ k.k1, 0x9fb21c651e98df25ull);
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
	if (k.fold)
		return compare_nocase_readable(a + k.start, b + k.start, n) == 0;
	return memcmp(a + k.start, b + k.start, n) == 0;
}

// Listing 1's records by hash.  A slot holds, from the top bit down: a
// one, eight more bits of the hash, the index of the first record with
// that compare field and where that record lies in listing 1's buffer, so
// that a lookup reaches the record straight from the slot.  A zero slot
// is free; the table is never more than three quarters full.
struct PartnerTable {
	KeyRule rule;
	const char *base = nullptr;	// listing 1's buffer
	const char *copy = nullptr;	// and its first record without headers
	uint64_t *slots = nullptr;
	uint64_t mask = 0;
	size_t slot_bytes = 0;
	uint32_t *first_alike = nullptr;	// per record: the first with its field
	unsigned char *partnered = nullptr;	// per first record: found in listing 2
	size_t record_bytes = 0;
};

static const uint64_t slot_taken = uint64_t(1) << 63;
static const int index_bits = 23;
static const uint32_t copy_place = 0xffffffffu;
static_assert(max_records < (uint64_t(1) << index_bits), "a record index must fit in a slot");

static PartnerTable table;

static void
free_table(PartnerTable &t)
{
	release_populated(t.slots, t.slot_bytes);
	release_populated(t.partnered, t.record_bytes);
	free(t.first_alike);
	t.slots = nullptr;
	t.partnered = nullptr;
	t.first_alike = nullptr;
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
	t.partnered = static_cast<unsigned char *>(allocate_populated(t.record_bytes));
	t.first_alike = static_cast<uint32_t *>(malloc(t.record_bytes * sizeof *t.first_alike));
	if (t.slots && t.partnered && t.first_alike)
		return true;
	free_table(t);
	return false;
}

static uint64_t
make_slot(const PartnerTable &t, const char *record, uint64_t index, uint64_t hash)
{
	uint64_t place = record == t.copy ? copy_place : uint64_t(record - t.base);
	return slot_taken | (hash >> 56 << 55) | (index << 32) | place;
}

static const char *
slot_record(const PartnerTable &t, uint64_t slot)
{
	uint32_t place = uint32_t(slot);
	return place == copy_place ? t.copy : t.base + place;
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
				t.first_alike[index] = uint32_t(index);
				return;
			}
		}
		if (may_hold(slot, hash) && same_key(t.rule, slot_record(t, slot), record)) {
			t.first_alike[index] = uint32_t(slot_index(slot));
			return;
		}
	}
}

// A record is hashed this many turns before its slot is used, so that the
// slot has arrived from memory by then; a lookup takes two such spans,
// one for the slot and one for the record it names.
static const uint64_t ahead = 16;
static const uint64_t ring = 64;

static void
fill_range(PartnerTable &t, char *const *entries, uint64_t from, uint64_t to)
{
	uint64_t hashes[ring];
	for (uint64_t i = from; i < to + ahead; i++) {
		if (i >= from + ahead) {
			uint64_t k = i - ahead;
			insert_record(t, entries[k], k, hashes[k % ring]);
		}
		if (i < to) {
			hashes[i % ring] = hash_key(t.rule, entries[i]);
			__builtin_prefetch(&t.slots[hashes[i % ring] & t.mask]);
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
		__builtin_prefetch(field + t.rule.reach);
	}
}

// Looks up records from..to of listing 2 and flags those without a
// partner.
static void
look_up_range(PartnerTable &t, char *const *second, uint64_t from, uint64_t to,
    unsigned char *lacking)
{
	uint64_t hashes[ring];
	for (uint64_t i = from; i < to + 2 * ahead; i++) {
		if (i < to) {
			hashes[i % ring] = hash_key(t.rule, second[i]);
			__builtin_prefetch(&t.slots[hashes[i % ring] & t.mask]);
		}
		if (i >= from + ahead && i - ahead < to)
			fetch_named_record(t, hashes[(i - ahead) % ring]);
		if (i >= from + 2 * ahead) {
			uint64_t k = i - 2 * ahead;
			uint64_t slot = find_slot(t, second[k], hashes[k % ring]);
			lacking[k] = slot == 0;
			if (slot != 0)
				__atomic_store_n(&t.partnered[slot_index(slot)], 1, __ATOMIC_RELAXED);
		}
	}
}

// Below this many records a second thread costs more than it saves.
static const uint64_t two_thread_count = 65536;

static void
look_up_all(PartnerTable &t, const Listing &second, unsigned char *lacking)
{
	char *const *entries = second.table.entries;
	uint64_t count = second.count;
	if (count < two_thread_count) {
		look_up_range(t, entries, 0, count, lacking);
		return;
	}
	uint64_t half = count / 2;
	std::thread helper;
	try {
		helper = std::thread([&t, entries, half, count, lacking] {
			look_up_range(t, entries, half, count, lacking);
		});
	} catch (const std::system_error &) {
		look_up_range(t, entries, half, count, lacking);
	}
	look_up_range(t, entries, 0, half, lacking);
	if (helper.joinable())
		helper.join();
}

static std::vector<unsigned char> lacking[2];

// Listing 1's table filled on a second thread, in chunks, which the main
// thread takes too once listing 2 is in.  The thread owns the promises and
// is never joined, and what is left here when a run ends early is never
// destroyed: such a run must neither wait for the thread nor abort on the
// way out.
struct BackgroundFill {
	char *const *entries = nullptr;
	uint64_t count = 0;
	std::atomic<uint64_t> next{ 0 };
	std::future<bool> allocated;
	std::future<void> done;
};
static BackgroundFill *background_fill;

static const uint64_t chunk_size = 16384;

static void
fill_chunks(BackgroundFill &fill)
{
	for (uint64_t from; (from = fill.next.fetch_add(chunk_size)) < fill.count;)
		fill_range(table, fill.entries, from, std::min(fill.count, from + chunk_size));
}

static void
use_listing(PartnerTable &t, const Listing &first, const KeyRule &rule)
{
	t.rule = rule;
	t.base = first.buffer;
	t.copy = first.first_copy;
}

void
start_matching(const Listing &first)
{
	use_listing(table, first, rule_in_force());
	try {
		auto *fill = new BackgroundFill;
		fill->entries = first.table.entries;
		fill->count = first.count;
		auto *allocated = new std::promise<bool>;
		auto *done = new std::promise<void>;
		fill->allocated = allocated->get_future();
		fill->done = done->get_future();
		std::thread([fill, allocated, done] {
			bool ready = allocate_table(table, fill->count);
			allocated->set_value(ready);
			delete allocated;
			if (ready)
				fill_chunks(*fill);
			done->set_value();
			delete done;
		}).detach();
		background_fill = fill;
	} catch (const std::exception &) {
		background_fill = nullptr;	// filled when listing 2 is in
	}
}

// Takes the chunks left of the background fill and waits for the rest;
// true when the table is filled by the rule in force.
static bool
finish_background_fill(const KeyRule &rule)
{
	if (!background_fill)
		return false;
	BackgroundFill &fill = *background_fill;
	bool ready = fill.allocated.get();
	// Under -h listing 2 may have its hash elsewhere; the table is filled
	// anew then.
	bool same = same_rule(table.rule, rule);
	if (ready && same)
		fill_chunks(fill);
	else
		fill.next = fill.count;
	fill.done.get();
	delete background_fill;
	background_fill = nullptr;
	return ready && same;
}

void
finish_matching(const Listing &first, const Listing &second)
{
	KeyRule rule = rule_in_force();
	bool filled = finish_background_fill(rule);
	use_listing(table, first, rule);
	if (!filled) {
		free_table(table);
		filled = fill_table(table, first.table.entries, first.count);
	}
	if (!filled)
		fail_table_memory();
	try {
		lacking[0].assign(size_t(first.count), 0);
		lacking[1].assign(size_t(second.count), 0);
	} catch (const std::bad_alloc &) {
		fail_table_memory();
	}
	look_up_all(table, second, lacking[1].data());
	for (uint64_t i = 0; i < first.count; i++)
		lacking[0][i] = !table.partnered[table.first_alike[i]];
	free_table(table);
}

const unsigned char *
partnerless(int number)
{
	return lacking[number - 1].data();
}
