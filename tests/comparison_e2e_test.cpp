// Whole runs of the program on two listings: every byte it writes.
#include <gtest/gtest.h>

#include <algorithm>

#include "run_helper.h"

static const std::string rec_a = "  12  |07/21/2021|18:11| 0123456789ABCDEF0123456789ABCDEF | c:\\a.txt       ";
static const std::string rec_b = "  13  |07/21/2021|18:12| 1123456789ABCDEF0123456789ABCDEF | c:\\b.txt       ";
static const std::string rec_c = "  14  |07/21/2021|18:13| 2123456789ABCDEF0123456789ABCDEF | c:\\c.txt       ";
static const std::string rec_d = "  15  |07/21/2021|18:14| 3123456789ABCDEF0123456789ABCDEF | c:\\d.txt       ";

static ExpectedRun
expected_for(const TempDir &dir, long capacity, long count1, long count2)
{
	ExpectedRun run;
	run.name1 = "a.txt";
	run.name2 = "b.txt";
	run.size1 = long(dir.read("a.txt").size());
	run.size2 = long(dir.read("b.txt").size());
	run.capacity = capacity;
	run.count1 = count1;
	run.count2 = count2;
	return run;
}

static std::string
found(const std::string &in, const std::string &not_in, const std::string &record)
{
	return "\nFound the following entry in " + in + " not in " + not_in + "\n" + record + "\n";
}

TEST(Comparison, ReportsMissingRecordsBothWaysInSortedOrder)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_c, rec_a, rec_b }));
	dir.write("b.txt", hash_listing({ rec_d, rec_b }));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   a.txt  3 records\n"
	    "Input file #2:   b.txt  2 records\n\n" +
	    found("a.txt", "b.txt", rec_a) + found("a.txt", "b.txt", rec_c) +
	    found("b.txt", "a.txt", rec_d) + "\n\nFound 3 mismatches\n");
	EXPECT_EQ(r.err, expected_stderr(expected_for(dir, 8, 3, 2)));
}

TEST(Comparison, IdenticalFilesFindNothing)
{
	TempDir dir;
	std::string listing = hash_listing({ rec_a, rec_b, rec_c });
	dir.write("a.txt", listing);
	dir.write("b.txt", listing);
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   a.txt  3 records\n"
	    "Input file #2:   b.txt  3 records\n\n\n\nFound 0 mismatches\n");
	EXPECT_EQ(r.err, expected_stderr(expected_for(dir, 8, 3, 3)));
}

TEST(Comparison, BundledExamples)
{
	TempDir dir;
	RunResult r = run_rowsift(dir.path, { EXAMPLES_DIR "/before.txt", EXAMPLES_DIR "/after.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("\n\nFound 6 mismatches\n"), std::string::npos) << r.out;
}

TEST(Comparison, ProgressCounterOfTheSecondPassEvery500Records)
{
	TempDir dir;
	std::vector<std::string> records;
	for (int i = 0; i < 1200; i++)
		records.push_back(format("%08d|some file name", i));
	dir.write("a.txt", hash_listing(records));
	dir.write("b.txt", hash_listing(records));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt" });
	EXPECT_EQ(r.status, 0);
	std::string err = expected_stderr(expected_for(dir, 1205, 1200, 1200));
	EXPECT_EQ(r.err, err);
	std::string second = "Processed      0" + std::string(16, '\b') + "Processed    500" +
	    std::string(16, '\b') + "Processed   1000" + std::string(16, '\b') +
	    "Processed   1200   Compare file records in 2 not in 1";
	EXPECT_NE(r.err.find(second), std::string::npos);
}

// The passes as a walk through the whole sorted listing writes them: a
// counter every `step` records, each record missing from the other listing
// in its place among them.
static std::string
pass_text(const std::vector<std::string> &sorted, const std::vector<bool> &missing,
    size_t step, const std::string &in, const std::string &not_in, size_t &counter)
{
	std::string text;
	auto progress = [&](size_t n) {
		text += std::string(counter, '\b');
		std::string shown = format("Processed %6zu", n);
		counter = shown.size();
		text += shown;
	};
	for (size_t i = 0; i < sorted.size(); i++) {
		if (i % step == 0)
			progress(i);
		if (missing[i])
			text += found(in, not_in, sorted[i]);
	}
	progress(sorted.size());
	return text;
}

TEST(Comparison, MissingRecordsComeBetweenTheCountersInTheirSortedPlace)
{
	std::vector<std::string> all;
	for (int i = 0; i < 30; i++)
		all.push_back(format("%08d|some file name", i * 7));
	std::vector<std::string> one, two;
	std::vector<bool> missing_1, missing_2;
	for (int i = 0; i < 30; i++) {
		bool only_in_two = i == 3 || i == 16;
		bool only_in_one = i == 0 || i == 7 || i == 8 || i == 29;
		if (!only_in_two)
			one.push_back(all[size_t(i)]);
		if (!only_in_one)
			two.push_back(all[size_t(i)]);
		if (!only_in_two)
			missing_1.push_back(only_in_one);
		if (!only_in_one)
			missing_2.push_back(only_in_two);
	}
	std::vector<std::string> one_sorted = one, two_sorted = two;
	std::reverse(one.begin(), one.end());
	std::rotate(two.begin(), two.begin() + 11, two.end());
	TempDir dir;
	dir.write("a.txt", hash_listing(one));
	dir.write("b.txt", hash_listing(two));
	RunResult r = run_rowsift_merged(dir.path, { "a.txt", "b.txt" });
	EXPECT_EQ(r.status, 0);
	// The first pass counts in tenths of listing 2.
	size_t counter = 0;
	std::string passes = "\n" + pass_text(one_sorted, missing_1, two.size() / 10, "a.txt", "b.txt", counter);
	passes += "\n   Compare file records in 1 not in 2\n";
	passes += pass_text(two_sorted, missing_2, 500, "b.txt", "a.txt", counter);
	passes += "   Compare file records in 2 not in 1\n\nFound 6 mismatches\n"
	    "\n**********************************\n\n";
	size_t start = r.out.find("\nProcessed      0");
	ASSERT_NE(start, std::string::npos) << r.out;
	EXPECT_EQ(r.out.substr(start), passes);
}

TEST(Comparison, LfOnlyListingsGiveWholeRecords)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a, rec_b }, "\n"));
	dir.write("b.txt", hash_listing({ rec_b }, "\n"));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   a.txt  2 records\n"
	    "Input file #2:   b.txt  1 records\n\n" + found("a.txt", "b.txt", rec_a) +
	    "\n\nFound 1 mismatches\n");
}

TEST(Comparison, DifferentRecordLengthsAreRefused)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a }));
	dir.write("b.txt", hash_listing({ rec_b + "x" }));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "\nInput file #1:   a.txt  1 records\n");
	std::string tail = "Processing b.txtThe input files have different record lengths\n"
	    "Please verify files are consistant formats and rerun program\n";
	ASSERT_GE(r.err.size(), tail.size());
	EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

TEST(Comparison, MissingInputFiles)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a }));
	std::string start = "\nGetting number of records in each file. This may take some time.\n";
	for (auto args : std::vector<std::vector<std::string>>{ { "nope.txt", "a.txt" }, { "a.txt", "nope.txt" } }) {
		RunResult r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, start + "\nCan't open input file nope.txt\n"
		    "Please check for correct filename, and rerun program\n");
	}
}

TEST(Comparison, DirectoryOrFifoAsInputIsRefusedWithoutHanging)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a }));
	ASSERT_EQ(system(("mkdir " + dir.file("d") + " && mkfifo " + dir.file("f")).c_str()), 0);
	for (const char *name : { "d", "f" }) {
		RunResult r = run_rowsift(dir.path, { "a.txt", name });
		EXPECT_EQ(r.status, 1);
		EXPECT_NE(r.err.find(std::string("\nCan't open input file ") + name + "\n"), std::string::npos);
	}
}

TEST(Comparison, EmptyFilesHaveNoHeader)
{
	TempDir dir;
	dir.write("a.txt", "");
	dir.write("b.txt", "");
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt" });
	EXPECT_EQ(r.status, 1);
	std::string tail = "Processing a.txt\n\nThere doesn't seem to be a header on a.txt.\n"
	    "Please check it for proper headers. Proper header is:\n----- BEGIN\a\n"
	    "Be certain the 5 dashes begin the line, and\n"
	    "They must be within the 1st 500 characters of the file\n"
	    "Or check out the -x option, for files without headers\n";
	ASSERT_GE(r.err.size(), tail.size());
	EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
	EXPECT_NE(r.err.find(" Getting memory to store 1 lines"), std::string::npos);
	EXPECT_NE(r.err.find(" Getting memory of 0 to process a.txt"), std::string::npos);
}

TEST(Comparison, ShortCommandLineEndsWithStatusOne)
{
	TempDir dir;
	for (auto args : std::vector<std::vector<std::string>>{ {}, { "a.txt" }, { "a.txt", "-x", "b.txt" } }) {
		RunResult r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, usage_text());
	}
}
