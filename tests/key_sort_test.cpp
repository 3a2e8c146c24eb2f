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

} // namespace

TEST(KeySort, OrdersAsTheComparatorDoes)
{
	std::mt19937 draw(20261209);
	for (const Case &c : cases) {
		for (size_t count : { 0u, 1u, 2u, 31u, 33u, 700u, 5000u }) {
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
	}
}
