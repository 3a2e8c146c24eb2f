// The two comparators and the lookup they serve.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compare/order.h"
#include "run_state.h"

namespace {

// A listing over copies of the given records.
struct Table {
	std::vector<std::string> text;
	std::vector<char *> entries;
	Listing listing;
	explicit Table(std::vector<std::string> records) : text(std::move(records))
	{
		// The program's tables always exist, an empty listing's too.
		entries.reserve(1);
		for (std::string &r : text)
			entries.push_back(r.data());
		listing.table.entries = entries.data();
		listing.table.capacity = entries.size();
		listing.count = entries.size();
	}
	std::vector<std::string> order() const
	{
		std::vector<std::string> out;
		for (char *e : entries)
			out.push_back(e);
		return out;
	}
};

void
use_field(int start, int record_length, int compare_length, bool match_case)
{
	settings = RunSettings();
	settings.field_start = start;
	settings.record_length = record_length;
	settings.compare_length = compare_length;
	settings.match_case = match_case;
}

int
sign_of(const char *a, const char *b)
{
	return compare_for_sort(&a, &b);
}

} // namespace

TEST(Order, CaseRules)
{
	use_field(0, 3, 3, true);
	EXPECT_LT(sign_of("ABC", "abc"), 0);
	EXPECT_GT(sign_of("\xe9" "bc", "abc"), 0);	// bytes compare unsigned
	use_field(0, 3, 3, false);
	EXPECT_EQ(sign_of("ABC", "abc"), 0);
	// Folding to lower case puts "_" before the letters.
	EXPECT_LT(sign_of("_bc", "Abc"), 0);
}

TEST(Order, SortByTailLookupByField)
{
	use_field(2, 6, 2, true);
	Table t({ "zzb2q1", "aab1q2", "xxa9q0", "yyb1q0" });
	sort_listing(t.listing);
	EXPECT_EQ(t.order(), (std::vector<std::string>{ "xxa9q0", "yyb1q0", "aab1q2", "zzb2q1" }));
	EXPECT_EQ(t.listing.sorted_field_start, 2);
	EXPECT_TRUE(listing_holds(t.listing, "..b1zz"));
	EXPECT_TRUE(listing_holds(t.listing, "..a9"));
	EXPECT_FALSE(listing_holds(t.listing, "..a8q0"));
}

TEST(Order, EmptyListingHoldsNothing)
{
	use_field(0, 3, 3, true);
	Table t({});
	sort_listing(t.listing);
	EXPECT_FALSE(listing_holds(t.listing, "abc"));
}
