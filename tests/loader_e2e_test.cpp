// Loading and field selection seen from outside: what a run prints for
// listings the loader has to think about.
#include <gtest/gtest.h>

#include "run_helper.h"

namespace {

std::string
tail_of(const std::string &text, size_t n)
{
	return text.size() < n ? text : text.substr(text.size() - n);
}

} // namespace

TEST(LoaderRun, WithoutHeadersTheFirstLineIsARecordOfAnyLength)
{
	TempDir dir;
	dir.write("a.txt", "short\r\n1234567890\r\nabcdefghij\r\n");
	dir.write("b.txt", "1234567890\r\nzzzzzzzzzz\r\n");
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-x" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   a.txt  3 records\n"
	    "Input file #2:   b.txt  2 records\n\n"
	    "\nFound the following entry in a.txt not in b.txt\nabcdefghij\n"
	    "\nFound the following entry in a.txt not in b.txt\nshort\n"
	    "\nFound the following entry in b.txt not in a.txt\nzzzzzzzzzz\n"
	    "\n\nFound 3 mismatches\n");
}

TEST(LoaderRun, MoreRecordsThanCountedLinesAreAllKept)
{
	// Lone CRs end records but not the lines the counter sees.
	TempDir dir;
	std::string many = "----- BEGIN\r";
	for (int i = 0; i < 40; i++)
		many += format("record %04d\r", i);
	dir.write("a.txt", many);
	dir.write("b.txt", "----- BEGIN\r\nrecord 0000\r\n");
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-1" });
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.err.find(" Getting memory to store 3 lines"), std::string::npos);
	EXPECT_NE(r.out.find("Input file #1:   a.txt  40 records\n"), std::string::npos);
	EXPECT_NE(r.out.find("\nrecord 0039\n\n\nFound 39 mismatches\n"), std::string::npos);
}

TEST(LoaderRun, HashSearchFollowsTheFieldOfTheSecondListing)
{
	// Listing 1's first record has its hash at 4, listing 2's at 5; the
	// field in force is listing 2's, and listing 1 must be searched in
	// that order.  The other records of listing 1 hold their hash at 5
	// behind a letter that would scatter them in an order by index 4.
	TempDir dir;
	std::vector<std::string> one = { "a   11111111 zzzzzzz" };
	std::vector<std::string> two = { "abcd 22222222 zzzzzz" };
	for (int i = 0; i < 60; i++) {
		std::string hash = format("%08X", 0x10000000 + i * 7919);
		one.push_back(std::string("abcQ") + char('z' - (i * 37) % 26) + hash + " zzzzzz");
		two.push_back("abcd " + hash + " zzzzzz");
	}
	dir.write("a.txt", hash_listing(one));
	dir.write("b.txt", hash_listing(two));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-h", "-2" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(tail_of(r.out, 130), tail_of("\nBased on field starting at 5, for 8 characters \n"
	    "\nFound the following entry in b.txt not in a.txt\nabcd 22222222 zzzzzz\n"
	    "\n\nFound 1 mismatches\n", 130));
}

TEST(LoaderRun, HashOptionWithoutAHashNamesTheFile)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ "0123456789ABCDEF0123456789ABCDEF | c:\\x.txt" }));
	dir.write("b.txt", hash_listing({ "0123456789ABCDEF0123456789ABCDEF | c:\\y.txt" }));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-h" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(tail_of(r.err, 70), tail_of("Processing a.txt" + erased(16) +
	    "\nNo hash value found in the first record of a.txt\n", 70));
}

TEST(LoaderRun, FieldBeyondTheRecordIsRefused)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ "1234567890" }));
	dir.write("b.txt", hash_listing({ "1234567890" }));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-d", "10", "-l", "3" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(tail_of(r.err, 110), tail_of("Processing a.txt" + erased(16) +
	    "\nNothing to compare in a.txt: the compare field starts at 10,"
	    " its records are 10 characters long\n", 110));
	// A listing without records is never refused for it.
	dir.write("a.txt", hash_listing({}));
	dir.write("b.txt", hash_listing({}));
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-d", "50" });
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("Found 0 mismatches"), std::string::npos);
}

// Lines of another length are passed over, and the run says so after its
// total: on stderr and in the log, never on stdout.
TEST(LoaderRun, LinesOfAnotherLengthAreNoted)
{
	TempDir dir;
	std::string a = "  12  |07/21/2021|18:11| 0123456789ABCDEF0123456789ABCDEF | c:\\a.txt ";
	std::string b = "  13  |07/21/2021|18:12| 1123456789ABCDEF0123456789ABCDEF | c:\\b.txt ";
	std::string long_path = "  14  |07/21/2021|18:13| 2123456789ABCDEF0123456789ABCDEF | c:\\long\\path.txt ";
	dir.write("one.txt", hash_listing({ a, long_path, b, long_path + "x" }));
	dir.write("two.txt", hash_listing({ a, long_path, b }));
	dir.write("plain.txt", hash_listing({ a, b }));
	RunResult noted = run_rowsift(dir.path, { "one.txt", "two.txt", "-o", "out.txt" });
	RunResult plain = run_rowsift(dir.path, { "plain.txt", "plain.txt", "-o", "plain.out" });
	EXPECT_EQ(noted.status, 0);
	const std::string notes = "\nNote: 2 lines of another length were passed over in one.txt"
	    " (the first is line 5)\n"
	    "\nNote: 1 line of another length was passed over in two.txt (line 5)\n";
	EXPECT_EQ(tail_of(noted.err, notes.size()), notes);
	EXPECT_EQ(noted.out, "\nInput file #1:   one.txt  2 records\nInput file #2:   two.txt  2 records\n"
	    "\n\n\nFound 0 mismatches\n");
	EXPECT_EQ(noted.err.substr(0, noted.err.size() - notes.size()).find("Note"), std::string::npos);
	std::string log = dir.read("out.txt.log");
	EXPECT_NE(log.find(notes + "\n**********************************\n\n"), std::string::npos) << log;
	// Nothing is noted when nothing was passed over.
	EXPECT_EQ(plain.err.find("Note"), std::string::npos);
	EXPECT_EQ(dir.read("plain.out.log").find("Note"), std::string::npos);
}

// A listing cut short, or holding records past the line its data ended
// at, is compared as far as its data goes, with a note after the total;
// the change report, which would call the lost files removed, refuses it.
TEST(LoaderRun, ListingsCutShortOrWithRecordsPastTheirEndAreNoted)
{
	TempDir dir;
	std::string a = "  12  |07/21/2021|18:11| 0123456789ABCDEF0123456789ABCDEF | a.txt ";
	std::string b = "  13  |07/21/2021|18:12| 1123456789ABCDEF0123456789ABCDEF | b.txt ";
	std::string c = "  14  |07/21/2021|18:13| 2123456789ABCDEF0123456789ABCDEF | c.txt ";
	std::string whole = hash_listing({ a, b, c });
	std::string cut = whole.substr(0, whole.find(b));
	std::string stray = hash_listing({ a, "", b, c });
	dir.write("whole.txt", whole);
	dir.write("cut.txt", cut);
	dir.write("stray.txt", stray);
	RunResult r = run_rowsift(dir.path, { "cut.txt", "stray.txt", "-o", "out.txt" });
	EXPECT_EQ(r.status, 0);
	const std::string notes = "\nNote: cut.txt has no \"----- END\" line; it may be cut short\n"
	    "\nNote: 2 lines of the record length follow the end of the data in stray.txt"
	    " (it ended at line 5)\n";
	EXPECT_EQ(tail_of(r.err, notes.size()), notes);
	EXPECT_NE(dir.read("out.txt.log").find(notes + "\n**********************************\n\n"),
	    std::string::npos);
	// A second CR in every line end reads as no records at all.
	std::string doubled;
	for (char ch : whole)
		doubled += ch == '\r' ? std::string("\r\r") : std::string(1, ch);
	dir.write("doubled.txt", doubled);
	r = run_rowsift(dir.path, { "doubled.txt", "doubled.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.err.find("\nNote: 3 lines of the record length follow the end of the data"
	    " in doubled.txt (it ended at line 6)\n"), std::string::npos);
	// Lines without headers have no trailer to miss.
	dir.write("plain.txt", a + "\r\n" + b + "\r\n");
	EXPECT_EQ(run_rowsift(dir.path, { "plain.txt", "plain.txt", "-x" }).err.find("Note"),
	    std::string::npos);

	for (auto [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
	    { { "whole.txt", "cut.txt", "-c" },
	    "\ncut.txt has no \"----- END\" line; it may be cut short\n" },
	    { { "stray.txt", "whole.txt", "-c" },
	    "\nstray.txt has 2 lines of the record length after its data ended at line 5\n" } }) {
		r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(tail_of(r.err, message.size()), message);
	}
}

// The listing of an empty directory compares with any listing, first,
// second or both.
TEST(LoaderRun, ListingWithoutDataLinesComparesWithAny)
{
	TempDir dir;
	std::string a = "  12  |07/21/2021|18:11| 0123456789ABCDEF0123456789ABCDEF | a.txt ";
	dir.write("empty.txt", hash_listing({}));
	dir.write("full.txt", hash_listing({ a }));
	RunResult r = run_rowsift(dir.path, { "empty.txt", "full.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   empty.txt  0 records\nInput file #2:   full.txt  1 records\n\n"
	    "\nFound the following entry in full.txt not in empty.txt\n" + a + "\n\n\nFound 1 mismatches\n");
	r = run_rowsift(dir.path, { "full.txt", "empty.txt", "-c" });
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.out, "\nInput file #1:   full.txt  1 records\nInput file #2:   empty.txt  0 records\n\n"
	    "removed  a.txt\n\n0 changed, 0 moved, 0 added, 1 removed, 0 touched\n");
	r = run_rowsift(dir.path, { "empty.txt", "empty.txt", "-h" });
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("\n\nFound 0 mismatches\n"), std::string::npos);
}
