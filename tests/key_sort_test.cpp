// The radix sort and the partner lookup against plain models of the order
// and of the compare field, on random records built to share long
// prefixes, hold duplicates, differ only in case, and end early in zero
// bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "compare/key_sort.h"
#include "compare/match.h"
#include "compare/placement.h"
#include "compare/report.h"
#include "bytes.h"
#include "run_state.h"

namespace {

// Records of one length over a few characters, most of them copies of a
// few stems with a changed tail, so that long runs of records share their
// first characters.
std::vector<std::string>
random_records(std::mt19937 &draw, size_t count, int length)
{
	// Around both ends of A to Z too, where folding starts and stops.
	static const char alphabet[] = "aAbB_z \x01\xe9|@[Z";
	std::uniform_int_distribution<int> pick(0, int(sizeof alphabet) - 2);
	std::vector<std::string> stems;
	for (int s = 0; s < 4; s++) {
		std::string stem;
		for (int i = 0; i < length; i++)
			stem += alphabet[pick(draw)];
		stems.push_back(stem);
	}
	std::vector<std::string> records;
	for (size_t i = 0; i < count; i++) {
		std::string r = stems[draw() % stems.size()];
		int from = int(draw() % unsigned(length + 1));
		for (int k = from; k < length; k++)
			if (draw() % 3 == 0)
				r[size_t(k)] = alphabet[pick(draw)];
		// A record cut short and padded with zeros, as the loader makes of a
		// short first line.
		if (draw() % 50 == 0)
			std::fill(r.begin() + int(draw() % unsigned(length)), r.end(), '\0');
		records.push_back(r);
	}
	return records;
}

struct Case {
	int length;
	int field_start;
	int compare_length;
	bool match_case;
};

// The compare field of the case under test.
CompareField current;

// The order records are reported in: the rest of the record from
// field_start, up to a zero byte, folded under -i.
int
compare_for_sort(const char *a, const char *b)
{
	size_t n = size_t(current.record_length - current.field_start);
	a += current.field_start;
	b += current.field_start;
	if (!current.fold)
		return strncmp(a, b, n);
	return compare_nocase(a, b, n);
}

void
use_case(const Case &c)
{
	current = CompareField();
	current.record_length = c.length;
	current.field_start = c.field_start;
	current.compare_length = c.compare_length;
	current.fold = !c.match_case;
}

// Zero-terminated copies that stay put while their pointers are sorted.
struct Records {
	std::vector<std::vector<char>> text;
	std::vector<char *> entries;
	explicit Records(const std::vector<std::string> &records)
	{
		for (const std::string &r : records) {
			text.emplace_back(r.begin(), r.end());
			text.back().push_back('\0');
		}
		for (auto &t : text)
			entries.push_back(t.data());
	}
};

const Case cases[] = {
	{ 24, 0, 24, true }, { 24, 0, 24, false }, { 24, 5, 19, true }, { 24, 5, 6, false },
	{ 70, 3, 40, true }, { 70, 0, 70, false }, { 9, 8, 1, true }, { 3, 0, 3, true },
};

// Sorts random records and checks that neighbours are in the order of
// compare_for_sort and that no record was lost or duplicated.
void
check_sort(std::mt19937 &draw, const Case &c, size_t count)
{
	use_case(c);
	std::vector<std::string> source = random_records(draw, count, c.length);
	Records sorted(source);
	sort_records(sorted.entries.data(), count, sort_field(current));
	for (size_t i = 1; i < count; i++)
		ASSERT_LE(compare_for_sort(sorted.entries[i - 1], sorted.entries[i]), 0)
		    << "length " << c.length << " start " << c.field_start << " at " << i;
	std::vector<std::string> before(source), after;
	for (char *e : sorted.entries)
		after.emplace_back(e, size_t(c.length));
	std::sort(before.begin(), before.end());
	std::sort(after.begin(), after.end());
	ASSERT_EQ(before, after);
}

} // namespace

TEST(KeySort, OrdersAsTheComparatorDoes)
{
	std::mt19937 draw(20261209);
	for (const Case &c : cases)
		for (size_t count : { 0u, 1u, 2u, 31u, 33u, 700u, 5000u })
			check_sort(draw, c, count);
}

TEST(KeySort, LargeTablesSortedOnTwoThreadsToo)
{
	std::mt19937 draw(7);
	check_sort(draw, cases[1], 150000);
	check_sort(draw, cases[4], 150000);
}

TEST(KeySort, SmallBucketsBesideOneHugeBucketOnTwoThreads)
{
	// A large table is split by its leading bytes into shares for the
	// threads; buckets of two and three records, at the first byte and
	// inside the huge bucket at the second, are shares too.
	use_case({ 24, 0, 24, true });
	std::mt19937 draw(11);
	std::vector<std::string> records;
	for (size_t i = 0; i < 120000; i++) {
		std::string r = "m";
		while (r.size() < 24)
			r += char('a' + draw() % 26);
		records.push_back(r);
	}
	int size = 2;
	for (const std::string lead : { "b", "c", "d", "e", "f", "g", "h", "i", "j", "k",
	    "mA", "mB", "mC", "mD", "mE", "mF", "mG", "mH", "mI", "mJ" }) {
		// Each small bucket in descending order.
		for (int k = size; k > 0; k--)
			records.push_back(lead + std::string(24 - lead.size(), char('a' + k)));
		size = 5 - size;
	}
	std::shuffle(records.begin(), records.end(), draw);
	Records table(records);
	sort_records(table.entries.data(), records.size(), sort_field(current));
	std::sort(records.begin(), records.end());
	ASSERT_EQ(std::vector<std::string>(table.entries.begin(), table.entries.end()), records);
}

TEST(KeySort, LargeTableOfOneRecordRepeated)
{
	use_case(cases[4]);
	Records same(std::vector<std::string>(120000, std::string(70, 'q')));
	std::vector<char *> before = same.entries;
	sort_records(same.entries.data(), same.entries.size(), sort_field(current));
	std::sort(before.begin(), before.end());
	std::sort(same.entries.begin(), same.entries.end());
	ASSERT_EQ(before, same.entries);
}

TEST(KeySort, CaseRules)
{
	use_case({ 3, 0, 3, true });
	Records exact({ "abc", "\xe9" "bc", "ABC", "_bc" });
	sort_records(exact.entries.data(), 4, sort_field(current));
	// Bytes compare unsigned.
	EXPECT_EQ(std::vector<std::string>(exact.entries.begin(), exact.entries.end()),
	    (std::vector<std::string>{ "ABC", "_bc", "abc", "\xe9" "bc" }));
	use_case({ 3, 0, 3, false });
	Records folded({ "abd", "_bc", "ABC" });
	sort_records(folded.entries.data(), 3, sort_field(current));
	// Folding to lower case puts "_" before the letters.
	EXPECT_EQ(std::vector<std::string>(folded.entries.begin(), folded.entries.end()),
	    (std::vector<std::string>{ "_bc", "ABC", "abd" }));
}

// Some records with a zero byte that ends the field before other
// characters.
static std::vector<std::string>
with_zero_bytes(std::vector<std::string> records)
{
	for (size_t i = 0; i < records.size(); i += 5)
		records[i][i % records[i].size()] = '\0';
	return records;
}

namespace {

// count_between on records already sorted, against the place of each of
// the others after the sorted records that compare equal to it.
void
expect_counts_between(const Records &sorted, const Records &others)
{
	std::vector<uint64_t> counts(sorted.entries.size() + 1);
	count_between(sorted.entries.data(), sorted.entries.size(), others.entries.data(),
	    others.entries.size(), sort_field(current), counts.data());
	std::vector<uint64_t> expected(sorted.entries.size() + 1, 0);
	for (char *o : others.entries)
		expected[size_t(std::upper_bound(sorted.entries.begin(), sorted.entries.end(), o,
		    [](const char *a, const char *b) { return compare_for_sort(a, b) < 0; }) -
		    sorted.entries.begin())]++;
	EXPECT_EQ(counts, expected);
}

} // namespace

TEST(KeySort, CountsTheRecordsBetweenSortedOnes)
{
	std::mt19937 draw(5);
	// The last sizes are large enough for two threads to count.
	struct Size { const Case &c; size_t sorted, others; };
	for (Size size : { Size{ cases[0], 40, 900 }, Size{ cases[3], 40, 900 }, Size{ cases[4], 40, 900 },
	    Size{ cases[7], 1, 50 }, Size{ cases[4], 700, 70000 }, Size{ cases[1], 300, 70000 } }) {
		use_case(size.c);
		Records sorted(with_zero_bytes(random_records(draw, size.sorted, size.c.length)));
		Records others(with_zero_bytes(random_records(draw, size.others, size.c.length)));
		sort_records(sorted.entries.data(), size.sorted, sort_field(current));
		expect_counts_between(sorted, others);
	}
	use_case({ 17, 0, 17, true });
	// Sharing its first sixteen bytes with the first sorted record, and
	// before it by the byte after them.
	expect_counts_between(Records({ "0123456789abcdefb", "0123456789abcdefc" }),
	    Records({ "0123456789abcdefa" }));
	// A key whose last bytes are all ones, beside others after it.
	expect_counts_between(Records({ "AAAAAAAAAAAAAA\xff\xffx" }),
	    Records({ "AAAAAAAAAAAAAA\xff\xffy", "BAAAAAAAAAAAAAAAA" }));
}

namespace {

// The compare field as a string: compare_length characters from
// field_start, fewer where the record or a zero byte ends it first,
// folded under -i.
std::string
compare_field(const char *record)
{
	size_t n = size_t(std::min(current.compare_length, current.record_length - current.field_start));
	std::string field(record + current.field_start, strnlen(record + current.field_start, n));
	if (current.fold)
		for (char &ch : field)
			ch = char(fold_case(static_cast<unsigned char>(ch)));
	return field;
}

// A listing whose records lie one after another in one buffer, as the
// loader leaves them.
struct BufferedListing {
	std::vector<char> buffer;
	std::vector<char *> entries;
	Listing listing;
	explicit BufferedListing(const std::vector<std::string> &records)
	{
		for (const std::string &r : records) {
			buffer.insert(buffer.end(), r.begin(), r.end());
			buffer.push_back('\n');
		}
		buffer.push_back('\0');
		size_t at = 0;
		for (const std::string &r : records) {
			entries.push_back(buffer.data() + at);
			at += r.size() + 1;
		}
		entries.reserve(1);
		listing.buffer = buffer.data();
		listing.table.entries = entries.data();
		listing.count = records.size();
	}
};

// Flags the records of each listing whose compare field is not among the
// other's, and checks the lookup's flags against them: with the table
// filled while listing 2 loads, or (fill false) after, as for listings
// that looked in step.
void
check_partners(std::mt19937 &draw, const Case &c, size_t count_1, size_t count_2,
    bool fill = true)
{
	use_case(c);
	BufferedListing one(random_records(draw, count_1, c.length));
	BufferedListing two(random_records(draw, count_2, c.length));
	std::set<std::string> fields_1, fields_2;
	for (char *r : one.entries)
		fields_1.insert(compare_field(r));
	for (char *r : two.entries)
		fields_2.insert(compare_field(r));
	Background started = start_matching(one.listing, current, fill);
	finish_matching(started, one.listing, two.listing, current);
	for (size_t i = 0; i < count_1; i++)
		ASSERT_EQ(unmatched_records(1)[i] != 0, !fields_2.count(compare_field(one.entries[i])))
		    << "listing 1 record " << i;
	for (size_t j = 0; j < count_2; j++)
		ASSERT_EQ(unmatched_records(2)[j] != 0, !fields_1.count(compare_field(two.entries[j])))
		    << "listing 2 record " << j;
}

} // namespace

TEST(Match, FindsWhatTheCompareFieldsSay)
{
	std::mt19937 draw(99);
	for (const Case &c : cases) {
		check_partners(draw, c, 0, 40);
		check_partners(draw, c, 40, 0);
		check_partners(draw, c, 300, 500);
	}
	// Large enough for the lookup to be shared by two threads.
	check_partners(draw, cases[3], 70000, 90000);
	check_partners(draw, cases[6], 90000, 70000);	// few distinct fields
	check_partners(draw, cases[3], 300, 500, false);
	check_partners(draw, cases[3], 90000, 70000, false);
}

TEST(Match, FieldSetOnlyWhenListingTwoIsInStillCounts)
{
	// Listing 1 goes into the table by the field in force when it is
	// loaded; listing 2 may move it, as -h does.  Each rule finds other
	// partners, and a table filled by the first but searched by the second
	// finds none.
	use_case({ 6, 2, 2, true });
	BufferedListing one({ "b2zzq1", "a1b1q2", "xxa9q0" });
	BufferedListing two({ "..b1zz", "a1a8q0", "b2...." });
	Background fill = start_matching(one.listing, current, true);
	current.field_start = 0;
	finish_matching(fill, one.listing, two.listing, current);
	EXPECT_EQ(std::vector<int>(unmatched_records(1), unmatched_records(1) + 3), (std::vector<int>{ 0, 0, 1 }));
	EXPECT_EQ(std::vector<int>(unmatched_records(2), unmatched_records(2) + 3), (std::vector<int>{ 1, 0, 0 }));
	use_case({ 6, 2, 2, true });
	Background refill = start_matching(one.listing, current, true);
	finish_matching(refill, one.listing, two.listing, current);
	EXPECT_EQ(std::vector<int>(unmatched_records(1), unmatched_records(1) + 3), (std::vector<int>{ 1, 0, 1 }));
	EXPECT_EQ(std::vector<int>(unmatched_records(2), unmatched_records(2) + 3), (std::vector<int>{ 0, 1, 1 }));
}
