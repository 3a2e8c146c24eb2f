#include "compare/match.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <vector>

#include "compare/partner_table.h"
#include "compare/walk.h"
#include "compare/walk_without_table.h"
#include "loader/extract.h"
#include "loader/inputs.h"
#include "platform/threads.h"

// Listing 1's records, by the compare field of the run.
static PartnerTable table;

// Per listing, per record: set when the record has no partner.
static std::vector<unsigned char> unmatched[2];

// Listing 1's records go into the table in chunks, on a second thread
// while listing 2 loads, then on both.  Only atomics are shared, so that a
// run that ends meanwhile destroys nothing the second thread still uses.
enum TableState { table_pending, table_ready, table_missing, table_deferred };
struct FillShare {
	char *const *entries = nullptr;
	uint64_t count = 0;
	std::atomic<uint64_t> next{ 0 };
	std::atomic<int> state{ table_pending };
};
static FillShare fill_share;

static const uint64_t chunk_size = 16384;

// Records of listing 2 looked at before it loads, as many as the walk
// tries after.
static const uint64_t peeked_records = 1024;

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

bool
looks_in_step(const Listing &first, const Listing &second, const CompareField &field)
{
	std::vector<char *> records(peeked_records);
	Listing peeked = empty_listing(second.number);
	peeked.table.entries = records.data();
	peeked.count = peek_first_records(second, first.record_length, records.data(),
	    peeked_records);
	return first_records_in_step(key_rule(field), first, peeked);
}

Background
start_matching(const Listing &first, const CompareField &field, bool fill)
{
	aim_table_at(table, first, key_rule(field));
	fill_share.entries = first.table.entries;
	fill_share.count = first.count;
	fill_share.next = 0;
	fill_share.state = fill ? table_pending : table_deferred;
	if (!fill)
		return Background();
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
	if (in_step &&
	    match_without_table(rule, first, second, unmatched[0].data(), unmatched[1].data())) {
		free_table(table);
		return;
	}
	aim_table_at(table, first, rule);
	// Listings that looked in step at first and are not: the table is
	// filled now, on both processors.
	if (fill_share.state == table_deferred && allocate_table(table, first.count)) {
		filled = true;
		filled_to = 0;
	}
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
