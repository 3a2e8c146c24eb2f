#include "compare/change_report.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "bytes.h"
#include "compare/match.h"
#include "listing/columns.h"
#include "loader/column_names.h"
#include "loader/extract.h"
#include "output/messages.h"
#include "platform/threads.h"
#include "run_state.h"

// Where a listing's records hold their hash and their path, found in its
// first record.
static Columns
locate_columns(const Listing &l, const CompareField &field)
{
	if (l.count == 0)
		return Columns();
	const char *first = l.table.entries[0];
	int length = int(record_span(field, first));
	Columns c = locate_columns(first, length);
	if (c.hash_start < 0)
		fail("\nNo hash value found in the first record of %s\n", l.name);
	if (c.path_start >= length)
		fail("\nNo path after the hash in the first record of %s\n", l.name);
	return c;
}

// A record without a partner, by its path (trailing blanks removed), its
// hash and its type (the first character of its MODE column, 0 without
// one), and the record itself, to name the columns that changed.
struct Entry {
	std::string_view path;
	std::string_view hash;
	const char *record;
	char type;
};

// Whether the listing's column-title line names the columns of its
// records: a title line of other columns than they hold (as a listing
// put together by hand may have) names none.
static bool
titles_its_records(const Listing &l, const CompareField &field)
{
	if (l.column_title.empty())
		return false;
	if (l.count == 0)
		return true;
	const char *first = l.table.entries[0];
	return title_fits(l.column_title, first, record_span(field, first));
}

// The names of the columns both listings have, which -c found the same
// in both; none when either listing has no column-title line that names
// its records' columns.
static std::vector<std::string>
shared_names(const Listing &one, const Listing &two, const CompareField &field)
{
	if (!titles_its_records(one, field) || !titles_its_records(two, field))
		return {};
	return column_names(one.column_title);
}

// Where the names hold a MODE column; -1 when they don't.
static int
mode_column(const std::vector<std::string> &names)
{
	for (size_t k = 0; k < names.size(); k++)
		if (names[k] == "MODE")
			return int(k);
	return -1;
}

static char
type_of(const char *record, size_t span, const std::vector<std::string> &names, int mode)
{
	if (mode < 0)
		return 0;
	std::string_view value = column_value(record, span, size_t(mode), names.size());
	return value.empty() ? 0 : value[0];
}

static std::string_view
column(const char *record, size_t span, int start, size_t length)
{
	size_t from = std::min(span, size_t(start));
	return std::string_view(record + from, std::min(length, span - from));
}

static std::string_view
path_of(const char *record, size_t span, const Columns &c)
{
	std::string_view path = column(record, span, c.path_start, span);
	// The blanks that pad a path to the record length, eight at a time.
	static const uint64_t blanks = 0x2020202020202020ull;
	uint64_t word;
	while (path.size() >= 8 && (memcpy(&word, path.data() + path.size() - 8, 8), word == blanks))
		path.remove_suffix(8);
	while (!path.empty() && (path.back() == ' ' || path.back() == '\0'))
		path.remove_suffix(1);
	return path;
}

static std::vector<Entry>
unmatched_entries(const Listing &l, const CompareField &field,
    const std::vector<std::string> &names)
{
	Columns c = locate_columns(l, field);
	int mode = mode_column(names);
	const unsigned char *unmatched = unmatched_records(l.number);
	std::vector<Entry> entries;
	for (uint64_t i = 0; i < l.count; i++) {
		if (!unmatched[i])
			continue;
		const char *record = l.table.entries[i];
		size_t span = record_span(field, record);
		entries.push_back({ path_of(record, span, c),
		    column(record, span, c.hash_start, size_t(c.hash_length)),
		    record, type_of(record, span, names, mode) });
	}
	return entries;
}

// Byte order, with A to Z as a to z under -i.
static int
compare_text(std::string_view a, std::string_view b)
{
	size_t n = std::min(a.size(), b.size());
	// An empty text, such as the new path of a change that is no move,
	// may have no data at all.
	int order = n == 0 ? 0 : settings.match_case ? memcmp(a.data(), b.data(), n) :
	    compare_nocase_readable(a.data(), b.data(), n);
	if (order != 0 || a.size() == b.size())
		return order;
	return a.size() < b.size() ? -1 : 1;
}

// Hashes paths as compare_text compares them.
struct PathHash {
	size_t operator()(std::string_view path) const
	{
		uint64_t h = 0xcbf29ce484222325ull;
		for (char ch : path) {
			unsigned char c = static_cast<unsigned char>(ch);
			h = (h ^ (settings.match_case ? c : fold_case(c))) * 0x100000001b3ull;
		}
		return size_t(h);
	}
};

struct PathsEqual {
	bool operator()(std::string_view a, std::string_view b) const
	{
		return compare_text(a, b) == 0;
	}
};

// A set of paths, with a filter that passes over most other paths by
// their length and last eight characters alone: a whole listing is looked
// up in it.
struct PathSet {
	std::unordered_set<std::string_view, PathHash, PathsEqual> paths;
	std::vector<uint64_t> filter = std::vector<uint64_t>(filter_words);
	static const size_t filter_words = 1 << 14;
};

static size_t
filter_bit(std::string_view path)
{
	uint64_t tail = 0;
	size_t n = std::min(path.size(), sizeof tail);
	memcpy(&tail, path.data() + path.size() - n, n);
	if (!settings.match_case)
		tail = fold_word(tail);
	uint64_t h = (tail ^ path.size()) * 0x9e3779b97f4a7c15ull;
	return size_t(h >> 44) % (PathSet::filter_words * 64);
}

static void
add_path(PathSet &set, std::string_view path)
{
	size_t bit = filter_bit(path);
	set.filter[bit / 64] |= uint64_t(1) << (bit % 64);
	set.paths.insert(path);
}

static bool
holds_path(const PathSet &set, std::string_view path)
{
	size_t bit = filter_bit(path);
	return (set.filter[bit / 64] >> (bit % 64) & 1) && set.paths.count(path);
}

// The first path, in path order, that one listing holds more than once;
// number 0 while none is known.
struct Duplicate {
	std::string_view path;
	int number = 0;
};

static void
note_duplicate(Duplicate &first, std::string_view path, int number)
{
	int order = first.number ? compare_text(path, first.path) : -1;
	if (order < 0 || (order == 0 && number < first.number))
		first = { path, number };
}

static bool
by_path(const Entry &a, const Entry &b)
{
	int order = compare_text(a.path, b.path);
	return order < 0 || (order == 0 && compare_text(a.hash, b.hash) < 0);
}

// Records of one hash pair as moves only with records of their type: a
// file that holds a link's target text is no move of the link.
static bool
by_hash(const Entry &a, const Entry &b)
{
	int order = compare_text(a.hash, b.hash);
	if (order == 0 && a.type != b.type)
		return a.type < b.type;
	return order < 0 || (order == 0 && compare_text(a.path, b.path) < 0);
}

enum ChangeKind { changed, moved, added, removed, touched, kind_count };
static const char *const kind_names[kind_count] = { "changed", "moved", "added", "removed",
	"touched" };

struct Change {
	ChangeKind kind;
	std::string_view path;
	std::string_view new_path;	// of a file moved
	// The records of a path changed or touched, to name the columns
	// that differ; null for a path listed again.
	const char *before;
	const char *after;
};

// The record of a change, by its byte order; empty when there is none.
static std::string_view
record_of(const char *record, const CompareField &field)
{
	return record ? std::string_view(record, record_span(field, record)) : std::string_view();
}

static bool
in_path_order(const Change &a, const Change &b, const CompareField &field)
{
	int order = compare_text(a.path, b.path);
	if (order != 0)
		return order < 0;
	if (a.kind != b.kind)
		return a.kind < b.kind;
	order = compare_text(a.new_path, b.new_path);
	if (order != 0)
		return order < 0;
	// Two changes of a path listed twice are told apart by their records.
	order = compare_text(record_of(a.before, field), record_of(b.before, field));
	return order < 0 ||
	    (order == 0 && compare_text(record_of(a.after, field), record_of(b.after, field)) < 0);
}

// The two ways records of the two sides pair: by path, and the rest by
// content.
enum PairKey { by_same_path, by_same_content };

static bool
level(const Entry &a, const Entry &b, PairKey key)
{
	if (key == by_same_path)
		return compare_text(a.path, b.path) == 0;
	return is_real_hash(a.hash) && a.type == b.type && compare_text(a.hash, b.hash) == 0;
}

// Whether two records of one path hold the same content.  The mark of a
// file that could not be read says nothing of its content: records that
// differ beside it may hide a change.  Two entries with no content (a
// directory, a device) have the same; an entry of another type has other
// content, whatever its hash.
static bool
same_content(const Entry &a, const Entry &b)
{
	if (a.type != b.type)
		return false;
	if (is_no_content_mark(a.hash) && is_no_content_mark(b.hash))
		return true;
	return is_real_hash(a.hash) && is_real_hash(b.hash) && compare_text(a.hash, b.hash) == 0;
}

static Change
change_of_pair(const Entry &a, const Entry &b, PairKey key)
{
	if (key == by_same_content)
		return { moved, a.path, b.path, nullptr, nullptr };
	return { same_content(a, b) ? touched : changed, a.path, {}, a.record, b.record };
}

// Pairs the entries of the two sides, sorted in the order of the key,
// that the key puts level, one to one in that order, into changes; the
// rest stay in `gone` and `arrived`, in order.
static void
pair_level(std::vector<Entry> &gone, std::vector<Entry> &arrived, PairKey key,
    std::vector<Change> &changes)
{
	bool (*order)(const Entry &, const Entry &) = key == by_same_path ? by_path : by_hash;
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

// Entries of one path next to each other in a side sorted by path: the
// first is the first such path of the side.
static void
find_duplicate(const std::vector<Entry> &sorted, int number, Duplicate &first)
{
	for (size_t i = 1; i < sorted.size(); i++) {
		if (compare_text(sorted[i - 1].path, sorted[i].path) == 0) {
			note_duplicate(first, sorted[i].path, number);
			return;
		}
	}
}

// The paths of records from..to of listing 1 with a partner that the set
// holds.
static void
find_matched_paths_in(const Listing &l, const Columns &c, const PathSet &wanted,
    const CompareField &field, uint64_t from, uint64_t to, PathSet &found)
{
	const unsigned char *unmatched = unmatched_records(l.number);
	for (uint64_t i = from; i < to; i++) {
		__builtin_prefetch(l.table.entries[std::min(i + 16, l.count - 1)]);
		if (unmatched[i])
			continue;
		const char *record = l.table.entries[i];
		std::string_view path = path_of(record, record_span(field, record), c);
		if (holds_path(wanted, path))
			add_path(found, path);
	}
}

// From this many records on, both halves of listing 1 are looked at at
// once.
static const uint64_t two_thread_paths = 65536;

// The paths of listing 1's records with a partner that the set holds.
// This looks at every such record, so it runs only when some entry is
// left over after the pairing by path, and on both processors: one
// thread took 0.1 s of a 1 s change report on 8,000,000 records.
static void
find_matched_paths(const Listing &l, const PathSet &wanted, const CompareField &field,
    PathSet &found)
{
	Columns c = locate_columns(l, field);
	if (l.count < two_thread_paths) {
		find_matched_paths_in(l, c, wanted, field, 0, l.count, found);
		return;
	}
	PathSet second_half;
	run_halves(size_t(l.count), [&](size_t from, size_t to) {
		find_matched_paths_in(l, c, wanted, field, from, to, from == 0 ? found : second_half);
	});
	for (std::string_view path : second_half.paths)
		add_path(found, path);
}

// A path listed more than once on one side leaves records without a
// partner of their path though the other listing holds it: its other
// records were paired by path, or found their partners whole (and a
// record found whole has its path in both listings).  Each such record is
// changed, never added or removed.
static void
pair_listed_again(const Listing &one, std::vector<Entry> &gone, std::vector<Entry> &arrived,
    const CompareField &field, std::vector<Change> &changes, Duplicate &first)
{
	if (gone.empty() && arrived.empty())
		return;
	PathSet left, found;
	for (const std::vector<Entry> *side : { &gone, &arrived })
		for (const Entry &e : *side)
			add_path(left, e.path);
	for (const Change &c : changes)
		if (holds_path(left, c.path))
			add_path(found, c.path);
	find_matched_paths(one, left, field, found);
	if (found.paths.empty())
		return;
	int number = 1;
	for (std::vector<Entry> *side : { &gone, &arrived }) {
		std::vector<Entry> rest;
		for (const Entry &e : *side) {
			if (holds_path(found, e.path)) {
				changes.push_back({ changed, e.path, {}, nullptr, nullptr });
				note_duplicate(first, e.path, number);
			} else {
				rest.push_back(e);
			}
		}
		side->swap(rest);
		number++;
	}
}

static std::vector<Change>
pair_changes(const Listing &one, std::vector<Entry> gone, std::vector<Entry> arrived,
    const CompareField &field, Duplicate &first)
{
	std::vector<Change> changes;
	// The same path on both sides: its content changed, or only the other
	// columns of its record.  Records of one path pair in the order of
	// their hashes.
	std::sort(gone.begin(), gone.end(), by_path);
	std::sort(arrived.begin(), arrived.end(), by_path);
	find_duplicate(gone, 1, first);
	find_duplicate(arrived, 2, first);
	pair_level(gone, arrived, by_same_path, changes);
	pair_listed_again(one, gone, arrived, field, changes, first);
	// Then the same content gone from one path and arrived at another:
	// moved.
	std::sort(gone.begin(), gone.end(), by_hash);
	std::sort(arrived.begin(), arrived.end(), by_hash);
	pair_level(gone, arrived, by_same_content, changes);
	for (const Entry &e : gone)
		changes.push_back({ removed, e.path, {}, nullptr, nullptr });
	for (const Entry &e : arrived)
		changes.push_back({ added, e.path, {}, nullptr, nullptr });
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

// The names, in lower case, of the columns but the path whose values
// differ between the two records of a change, in title order: "mode,
// owner".  Values compare as paths and hashes do (-i folds A to Z).
static std::string
differing_columns(const Change &c, const CompareField &field,
    const std::vector<std::string> &names)
{
	std::string list;
	if (names.empty() || !c.before || !c.after)
		return list;
	size_t spans[2] = { record_span(field, c.before), record_span(field, c.after) };
	size_t at[2] = {};
	for (size_t k = 0; k + 1 < names.size(); k++) {
		std::string_view before = next_column(c.before, spans[0], &at[0]);
		std::string_view after = next_column(c.after, spans[1], &at[1]);
		if (compare_text(before, after) == 0)
			continue;
		if (!list.empty())
			list += ", ";
		for (char ch : names[k])
			list += char(fold_case(static_cast<unsigned char>(ch)));
	}
	return list;
}

static void
write_change(const Change &c, const CompareField &field, const std::vector<std::string> &names)
{
	FILE *out = settings.output_requested ? output_stream : stdout;
	write_text(out, "%-9s%.*s", kind_names[c.kind], int(c.path.size()), c.path.data());
	if (c.kind == moved)
		write_text(out, " -> %.*s", int(c.new_path.size()), c.new_path.data());
	std::string columns = differing_columns(c, field, names);
	if (!columns.empty())
		write_text(out, " (%s)", columns.c_str());
	write_text(out, "\n");
}

static void
write_totals(FILE *stream, const int *totals)
{
	write_text(stream, "%d changed, %d moved, %d added, %d removed, %d touched\n",
	    totals[changed], totals[moved], totals[added], totals[removed], totals[touched]);
}

static void
note_duplicate_path(FILE *stream, const Duplicate &first, const char *name)
{
	write_text(stream, "\nNote: %s lists %.*s more than once; records of one path were paired"
	    " in the order of their hashes\n", name, int(first.path.size()), first.path.data());
}

int
report_changes(const Listing &one, const Listing &two, const CompareField &field)
{
	std::vector<std::string> names = shared_names(one, two, field);
	std::vector<Entry> gone = unmatched_entries(one, field, names);
	std::vector<Entry> arrived = unmatched_entries(two, field, names);
	Duplicate first;
	std::vector<Change> changes = pair_changes(one, std::move(gone), std::move(arrived), field,
	    first);
	std::sort(changes.begin(), changes.end(), [&](const Change &a, const Change &b) {
		return in_path_order(a, b, field);
	});
	int totals[kind_count] = {};
	int listed = 0;
	for (const Change &c : changes) {
		if (!is_reported(c.kind))
			continue;
		stop_if_asked();
		write_change(c, field, names);
		totals[c.kind]++;
		listed++;
	}
	// No total is given for a file that changed while it was compared.
	check_inputs_unchanged(one, two);
	write_text(stdout, "\n");
	write_totals(stdout, totals);
	if (settings.output_requested)
		write_totals(log_stream, totals);
	if (first.number) {
		const char *name = (first.number == 1 ? one : two).name;
		note_duplicate_path(stderr, first, name);
		if (settings.output_requested)
			note_duplicate_path(log_stream, first, name);
	}
	return listed;
}
