#include "loader/algorithm.h"

#include <string>
#include <vector>

#include "listing/algorithms.h"
#include "listing/columns.h"
#include "loader/column_names.h"
#include "output/messages.h"
#include "run_state.h"

// The length of the hash in the listing's first record; 0 when it has no
// record or no hash, which is reported where the hash is needed.
static int
first_hash_length(const Listing &l, const CompareField &field)
{
	if (l.count == 0)
		return 0;
	const char *first = l.table.entries[0];
	int length = 0;
	return find_hash(first, int(record_span(field, first)), &length) < 0 ? 0 : length;
}

// The algorithm as the title names it, else by the length of its hashes
// where that length tells it.
static std::string
hashes_of(const Listing &l, int length)
{
	if (!l.algorithm.empty())
		return l.algorithm + " hashes";
	if (const HashAlgorithm *known = algorithm_known_by_length(length))
		return std::string(known->name) + " hashes";
	return std::to_string(length) + "-digit hashes";
}

void
refuse_mixed_algorithms(const Listing &one, const Listing &two, const CompareField &field)
{
	bool titles_differ = !one.algorithm.empty() && !two.algorithm.empty() &&
	    one.algorithm != two.algorithm;
	int lengths[2] = {};
	bool lengths_differ = false;
	// Only -c and -h compare hashes as such; the default report compares
	// whole records, which may hold anything.
	if (settings.change_report || field.find_hash_start) {
		lengths[0] = first_hash_length(one, field);
		lengths[1] = first_hash_length(two, field);
		lengths_differ = lengths[0] && lengths[1] && lengths[0] != lengths[1];
	}
	if (!titles_differ && !lengths_differ)
		return;
	fail("\n%s holds %s and %s %s: they can't be compared\n"
	    "List the files of %s again with rowsift-list --like %s\n",
	    one.name, hashes_of(one, lengths[0]).c_str(), two.name, hashes_of(two, lengths[1]).c_str(),
	    two.name, one.name);
}

// The change report pairs records by their columns: listings that have
// other columns (a layout with modes and owners beside one without) can't
// pair.  Nor can -h compare them: it looks listing 2's hashes up at
// listing 2's place in listing 1's records, and the hash of the other
// layout stands elsewhere, so every record would be reported missing.
// The default report compares whole records, which may hold anything.
void
refuse_mixed_columns(const Listing &one, const Listing &two)
{
	if (!settings.change_report && !settings.hash_field)
		return;
	std::vector<std::string> names[2] = { column_names(one.column_title),
		column_names(two.column_title) };
	if (names[0].empty() || names[1].empty() || names[0] == names[1])
		return;
	fail("\n%s has the columns %s and %s has %s: they can't be compared\n"
	    "List the files of %s again with rowsift-list --like %s\n",
	    one.name, joined_names(names[0]).c_str(), two.name, joined_names(names[1]).c_str(),
	    two.name, one.name);
}
