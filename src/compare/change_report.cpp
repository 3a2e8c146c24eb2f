#include "compare/change_report.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "bytes.h"
#include "compare/match.h"
#include "loader/extract.h"
#include "output/messages.h"
#include "run_state.h"

// Where a listing's records hold their hash and their path, found in its
// first record: the hash as -h finds it, the path after the "|" that
// closes the hash column and the blank that follows it.
struct Columns {
	int hash_start = 0;
	int hash_length = 0;
	int path_start = 0;
};

static Columns
locate_columns(const Listing &l, const CompareField &field)
{
	Columns c;
	if (l.count == 0)
		return c;
	const char *first = l.table.entries[0];
	int length = int(record_span(field, first));
	c.hash_start = find_hash(first, length, &c.hash_length);
	if (c.hash_start < 0)
		fail("\nNo hash value found in the first record of %s\n", l.name);
	int hash_end = c.hash_start + c.hash_length;
	auto *bar = static_cast<const char *>(memchr(first + hash_end, '|', size_t(length - hash_end)));
	c.path_start = bar ? int(bar - first) + 1 : length;
	if (c.path_start < length && first[c.path_start] == ' ')
		c.path_start++;
	if (c.path_start >= length)
		fail("\nNo path after the hash in the first record of %s\n", l.name);
	return c;
}

// A record without a partner, by its path (trailing blanks removed) and
// its hash.
struct Entry {
	std::string_view path;
	std::string_view hash;
};

static std::string_view
column(const char *record, size_t span, int start, size_t length)
{
	size_t from = std::min(span, size_t(start));
	return std::string_view(record + from, std::min(length, span - from));
}

static std::vector<Entry>
unmatched_entries(const Listing &l, int number, const CompareField &field)
{
	Columns c = locate_columns(l, field);
	const unsigned char *unmatched = unmatched_records(number);
	std::vector<Entry> entries;
	for (uint64_t i = 0; i < l.count; i++) {
		if (!unmatched[i])
			continue;
		const char *record = l.table.entries[i];
		size_t span = record_span(field, record);
		std::string_view path = column(record, span, c.path_start, span);
		while (!path.empty() && (path.back() == ' ' || path.back() == '\0'))
			path.remove_suffix(1);
		entries.push_back({ path, column(record, span, c.hash_start, size_t(c.hash_length)) });
	}
	return entries;
}

// Byte order, with A to Z as a to z under -i.
static int
compare_text(std::string_view a, std::string_view b)
{
	size_t n = std::min(a.size(), b.size());
	int order = settings.match_case ? memcmp(a.data(), b.data(), n) :
	    compare_nocase_readable(a.data(), b.data(), n);
	if (order != 0 || a.size() == b.size())
		return order;
	return a.size() < b.size() ? -1 : 1;
}

static bool
by_path(const Entry &a, const Entry &b)
{
	int order = compare_text(a.path, b.path);
	return order < 0 || (order == 0 && compare_text(a.hash, b.hash) < 0);
}

static bool
by_hash(const Entry &a, const Entry &b)
{
	int order = compare_text(a.hash, b.hash);
	return order < 0 || (order == 0 && compare_text(a.path, b.path) < 0);
}

// Only a hash of hex digits says what a file holds; a marker for a file
// that could not be read pairs with nothing.
static bool
is_real_hash(std::string_view hash)
{
	return !hash.empty() && std::all_of(hash.begin(), hash.end(), [](char ch) {
		return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
	});
}

enum ChangeKind { changed, moved, added, removed, touched, kind_count };
static const char *const kind_names[kind_count] = { "changed", "moved", "added", "removed",
	"touched" };

struct Change {
	ChangeKind kind;
	std::string_view path;
	std::string_view new_path;	// of a file moved
};

static bool
in_path_order(const Change &a, const Change &b)
{
	int order = compare_text(a.path, b.path);
	if (order != 0)
		return order < 0;
	if (a.kind != b.kind)
		return a.kind < b.kind;
	return compare_text(a.new_path, b.new_path) < 0;
}

// The two ways records of the two sides pair: by path, and the rest by
// content.
enum PairKey { by_same_path, by_same_content };

static bool
level(const Entry &a, const Entry &b, PairKey key)
{
	if (key == by_same_path)
		return compare_text(a.path, b.path) == 0;
	return is_real_hash(a.hash) && compare_text(a.hash, b.hash) == 0;
}

static Change
change_of_pair(const Entry &a, const Entry &b, PairKey key)
{
	if (key == by_same_content)
		return { moved, a.path, b.path };
	// The marker of a file that could not be read says nothing of its
	// content: records that differ beside it may hide a change.
	bool same_content = is_real_hash(a.hash) && is_real_hash(b.hash) &&
	    compare_text(a.hash, b.hash) == 0;
	return { same_content ? touched : changed, a.path, {} };
}

// Pairs the entries of the two sides that the key puts level, one to one
// in the order of the key, into changes; the rest stay in `gone` and
// `arrived`.
static void
pair_level(std::vector<Entry> &gone, std::vector<Entry> &arrived, PairKey key,
    std::vector<Change> &changes)
{
	bool (*order)(const Entry &, const Entry &) = key == by_same_path ? by_path : by_hash;
	std::sort(gone.begin(), gone.end(), order);
	std::sort(arrived.begin(), arrived.end(), order);
	std::vector<Entry> gone_left, arrived_left;
	size_t i = 0, j = 0;
	while (i < gone.size() && j < arrived.size()) {
		if (level(gone[i], arrived[j], key))
			changes.push_back(change_of_pair(gone[i++], arrived[j++], key));
		else if (order(gone[i], arrived[j]))
			gone_left.push_back(gone[i++]);
		else
			arrived_left.push_back(arrived[j++]);
	}
	gone_left.insert(gone_left.end(), gone.begin() + long(i), gone.end());
	arrived_left.insert(arrived_left.end(), arrived.begin() + long(j), arrived.end());
	gone.swap(gone_left);
	arrived.swap(arrived_left);
}

static std::vector<Change>
pair_changes(std::vector<Entry> gone, std::vector<Entry> arrived)
{
	std::vector<Change> changes;
	// The same path on both sides: its content changed, or only the other
	// columns of its record.  Then the same content gone from one path
	// and arrived at another: moved.
	pair_level(gone, arrived, by_same_path, changes);
	pair_level(gone, arrived, by_same_content, changes);
	for (const Entry &e : gone)
		changes.push_back({ removed, e.path, {} });
	for (const Entry &e : arrived)
		changes.push_back({ added, e.path, {} });
	return changes;
}

static bool
is_reported(ChangeKind kind)
{
	if (kind == removed)
		return settings.report_first_missing;
	if (kind == added)
		return settings.report_second_missing;
	return true;
}

static void
write_change(const Change &c)
{
	FILE *out = settings.output_requested ? output_stream : stdout;
	write_text(out, "%-9s%.*s", kind_names[c.kind], int(c.path.size()), c.path.data());
	if (c.kind == moved)
		write_text(out, " -> %.*s", int(c.new_path.size()), c.new_path.data());
	write_text(out, "\n");
}

static void
write_totals(FILE *stream, const int *totals)
{
	write_text(stream, "%d changed, %d moved, %d added, %d removed, %d touched\n",
	    totals[changed], totals[moved], totals[added], totals[removed], totals[touched]);
}

void
report_changes(const CompareField &field)
{
	std::vector<Entry> gone = unmatched_entries(listings[0], 1, field);
	std::vector<Entry> arrived = unmatched_entries(listings[1], 2, field);
	std::vector<Change> changes = pair_changes(std::move(gone), std::move(arrived));
	std::sort(changes.begin(), changes.end(), in_path_order);
	int totals[kind_count] = {};
	for (const Change &c : changes) {
		if (!is_reported(c.kind))
			continue;
		stop_if_asked();
		write_change(c);
		totals[c.kind]++;
	}
	// No total is given for a file that changed while it was compared.
	check_inputs_unchanged();
	write_text(stdout, "\n");
	write_totals(stdout, totals);
	if (settings.output_requested)
		write_totals(log_stream, totals);
}
