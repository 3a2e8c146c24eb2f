// Compare-field selection and hash detection.
#include <gtest/gtest.h>

#include <cstring>

#include "listing/columns.h"
#include "loader/field.h"
#include "run_state.h"

namespace {

const char *const record75 =
    "  12  |07/21/2021|18:11| 0123456789abcdef0123456789ABCDEF | c:\\dir\\file.txt";

// The field selected from a listing whose only record is `record`.
CompareField
select_on(const char *record, int record_length)
{
	static char *entries[1];
	static Listing l;
	entries[0] = const_cast<char *>(record);
	l = empty_listing(1);
	l.name = "t.txt";
	l.table.entries = entries;
	l.table.capacity = 1;
	l.count = 1;
	l.record_length = record_length;
	return select_field(l, field_from_options());
}

void
reset(int hash, int start, int length)
{
	settings = RunSettings();
	settings.hash_field = hash;
	settings.field_start = start;
	settings.field_length = length;
}

} // namespace

TEST(Field, WholeRecordOrFromTheStartGiven)
{
	ASSERT_EQ(strlen(record75), 75u);
	reset(0, 0, 0);
	EXPECT_EQ(select_on(record75, 75).compare_length, 75);
	reset(0, 2, 0);
	CompareField from2 = select_on(record75, 75);
	EXPECT_EQ(from2.field_start, 2);
	EXPECT_EQ(from2.compare_length, 73);
	reset(0, 2, 10);
	EXPECT_EQ(select_on(record75, 75).compare_length, 10);
}

TEST(Field, HashIsFoundPastTheSizeDateAndTime)
{
	reset(1, 5, 0);
	CompareField whole = select_on(record75, 75);
	EXPECT_EQ(whole.field_start, 25);
	EXPECT_EQ(whole.compare_length, 32);
	reset(1, 0, 8);
	CompareField part = select_on(record75, 75);
	EXPECT_EQ(part.field_start, 25);
	EXPECT_EQ(part.compare_length, 8);
}

TEST(Field, HashScanStaysInsideTheRecord)
{
	int length = 0;
	// A long decimal size is taken for the hash.
	EXPECT_EQ(find_hash("  1 |123456789|x", 16, &length), 5);
	EXPECT_EQ(length, 11);
	// A hash that runs to the end of the record ends there.
	EXPECT_EQ(find_hash("ab  deadbeefcafe", 16, &length), 4);
	EXPECT_EQ(length, 12);
	// No blank at or after index 3, or no run of eight hex digits: none.
	EXPECT_EQ(find_hash("0123456789abcdef", 16, &length), -1);
	EXPECT_EQ(find_hash("ab  | 1234567 | zz", 18, &length), -1);
	// Bytes past the record's own length are never looked at.
	EXPECT_EQ(find_hash("ab  1234\0" "5678", 8, &length), -1);
}

TEST(Field, HashDetectionFailureNamesTheFile)
{
	reset(1, 0, 0);
	EXPECT_EXIT(select_on("0123456789ABCDEF0123456789ABCDEF | c:\\x", 39),
	    testing::ExitedWithCode(1), "No hash value found in the first record of t.txt");
}

TEST(Field, NothingToCompareEndsTheRun)
{
	reset(0, 75, 0);
	EXPECT_EXIT(select_on(record75, 75), testing::ExitedWithCode(1), "Nothing to compare in t.txt");
	reset(0, 0, 5);
	EXPECT_EXIT(select_on("", 0), testing::ExitedWithCode(1), "Nothing to compare");
}

TEST(Field, ListingWithoutRecordsIsLeftAlone)
{
	// Under -h the field found in listing 1 stays when listing 2 is empty.
	reset(1, 7, 0);
	CompareField found;
	found.field_start = 25;
	found.compare_length = 32;
	Listing empty = empty_listing(2);
	empty.name = "e.txt";
	empty.record_length = 75;
	CompareField kept = select_field(empty, found);
	EXPECT_EQ(kept.field_start, 25);
	EXPECT_EQ(kept.compare_length, 32);
	// A start past the record end is no failure without records.
	reset(0, 90, 0);
	CompareField past = select_field(empty, field_from_options());
	EXPECT_EQ(past.field_start, 90);
	EXPECT_EQ(past.compare_length, -15);
	// A length given still counts.
	reset(0, 90, 4);
	EXPECT_EQ(select_field(empty, field_from_options()).compare_length, 4);
}
