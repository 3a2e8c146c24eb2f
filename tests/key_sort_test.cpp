// The radix sort and the merged lookup against the plain comparators, on
// random records built to share long prefixes, hold duplicates, differ
// only in case, and end early in zero bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "compare/order.h"
#include "run_state.h"

namespace {

// Records of one length over a few characters, most of them copies of a
// few stems with a changed tail, so that long runs of records share their
// first characters.
std::vector<std::string>
random_records(std::mt19937 &draw, size_t count, int length)
{
	static const char alphabet[] = "aAbB_z \x01\xe9|";
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

void
use_case(const Case &c)
{
	settings = RunSettings();
	settings.record_length = c.length;
	settings.field_start = c.field_start;
	settings.compare_length = c.compare_length;
	settings.match_case = c.match_case;
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
	sort_records(sorted.entries.data(), count, sort_field());
	for (size_t i = 1; i < count; i++)
		ASSERT_LE(compare_for_sort(&sorted.entries[i - 1], &sorted.entries[i]), 0)
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

TEST(KeySort, LargeTableOfOneRecordRepeated)
{
	use_case(cases[4]);
	Records same(std::vector<std::string>(120000, std::string(70, 'q')));
	std::vector<char *> before = same.entries;
	sort_records(same.entries.data(), same.entries.size(), sort_field());
	std::sort(before.begin(), before.end());
	std::sort(same.entries.begin(), same.entries.end());
	ASSERT_EQ(before, same.entries);
}

namespace {

// Two listings drawn from the same stems, so that most records of one have
// a match in the other, sorted as the driver sorts them.
struct ListingPair {
	Records one, two;
	Listing first, second;
	ListingPair(std::mt19937 &draw, const Case &c, size_t count_1, size_t count_2)
	    : one(random_records(draw, count_1, c.length)),
	      two(random_records(draw, count_2, c.length))
	{
		first.table.entries = one.entries.data();
		first.count = count_1;
		second.table.entries = two.entries.data();
		second.count = count_2;
		start_sort(first);
		finish_sort();
		sort_listing(second);
	}
};

void
check_walk(std::mt19937 &draw, const Case &c, size_t count_1, size_t count_2)
{
	use_case(c);
	ListingPair pair(draw, c, count_1, count_2);
	std::vector<unsigned char> missing_1(count_1, 2), missing_2(count_2, 2);
	find_missing(pair.first, pair.second, missing_1.data(), missing_2.data());
	for (size_t i = 0; i < count_1; i++)
		ASSERT_EQ(missing_1[i] != 0, !listing_holds(pair.second, pair.first.table.entries[i]))
		    << "listing 1 record " << i;
	for (size_t j = 0; j < count_2; j++)
		ASSERT_EQ(missing_2[j] != 0, !listing_holds(pair.first, pair.second.table.entries[j]))
		    << "listing 2 record " << j;
}

} // namespace

TEST(KeySort, WalkFindsWhatBinarySearchFinds)
{
	std::mt19937 draw(99);
	for (const Case &c : cases) {
		check_walk(draw, c, 0, 40);
		check_walk(draw, c, 40, 0);
		check_walk(draw, c, 300, 500);
	}
	// Large enough for the walk to be cut in two halves.
	check_walk(draw, cases[3], 70000, 90000);
	check_walk(draw, cases[6], 90000, 70000);	// long runs of one field at the cut
	// Large enough for both threads to share listing 1's sort.
	check_walk(draw, cases[2], 130000, 110000);
}
