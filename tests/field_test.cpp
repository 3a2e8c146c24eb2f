// Compare-field selection and hash detection.
#include <gtest/gtest.h>

#include <cstring>

#include "listing/columns.h"
#include "loader/field.h"
#include "run_state.h"

namespace {

const char *const record75 =
    "  12  |07/21/2021|18:11| 0123456789abcdef0123456789ABCDEF | c:\\dir\\file.txt";

// The field selected from a listing whose only record is `record`, with
// -h or not, the start of -d and the length of -l.
CompareField
select_on(const char *record, int record_length, const CompareField &given)
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
	return select_field(l, given);
}

CompareField
options(bool hash, int start, int length)
{
	CompareField given;
	given.find_hash_start = hash;
	given.field_start = start;
	given.length_given = length;
	return given;
}

} // namespace

TEST(Field, WholeRecordOrFromTheStartGiven)
{
	ASSERT_EQ(strlen(record75), 75u);
	EXPECT_EQ(select_on(record75, 75, options(false, 0, 0)).compare_length, 75);
	CompareField from2 = select_on(record75, 75, options(false, 2, 0));
	EXPECT_EQ(from2.field_start, 2);
	EXPECT_EQ(from2.compare_length, 73);
	EXPECT_EQ(select_on(record75, 75, options(false, 2, 10)).compare_length, 10);
}

TEST(Field, HashIsFoundPastTheSizeDateAndTime)
{
	CompareField whole = select_on(record75, 75, options(true, 5, 0));
	EXPECT_EQ(whole.field_start, 25);
	EXPECT_EQ(whole.compare_length, 32);
	CompareField part = select_on(record75, 75, options(true, 0, 8));
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
	EXPECT_EXIT(select_on("0123456789ABCDEF0123456789ABCDEF | c:\\x", 39, options(true, 0, 0)),
	    testing::ExitedWithCode(1), "No hash value found in the first record of t.txt");
}

TEST(Field, NothingToCompareEndsTheRun)
{
	EXPECT_EXIT(select_on(record75, 75, options(false, 75, 0)), testing::ExitedWithCode(1),
	    "Nothing to compare in t.txt");
	EXPECT_EXIT(select_on("", 0, options(false, 0, 5)), testing::ExitedWithCode(1),
	    "Nothing to compare");
}

TEST(Field, ListingWithoutRecordsIsLeftAlone)
{
	// Under -h the field found in listing 1 stays when listing 2 is empty.
	CompareField found = options(true, 7, 0);
	found.field_start = 25;
	found.compare_length = 32;
	Listing empty = empty_listing(2);
	empty.name = "e.txt";
	empty.record_length = 75;
	CompareField kept = select_field(empty, found);
	EXPECT_EQ(kept.field_start, 25);
	EXPECT_EQ(kept.compare_length, 32);
	// A start past the record end is no failure without records.
	CompareField past = select_field(empty, options(false, 90, 0));
	EXPECT_EQ(past.field_start, 90);
	EXPECT_EQ(past.compare_length, -15);
	// A length given still counts.
	EXPECT_EQ(select_field(empty, options(false, 90, 4)).compare_length, 4);
}
