// Whole runs of the program on two listings: every byte it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <sys/stat.h>

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
	const std::string before = EXAMPLES_DIR "/before.txt", after = EXAMPLES_DIR "/after.txt";
	TempDir dir;
	RunResult r = run_rowsift(dir.path, { before, after });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   " + before + "  20 records\n"
	    "Input file #2:   " + after + "  20 records\n\n" +
	    found(before, after, "   1053524|10/02/2023|06:31| 1C1C06D077AEBB9626E3F24A6FC3926F | c:\\tools\\setup.exe          ") +
	    found(before, after, "   1980915|09/14/2020|10:09| 12B4FB3BA62404427C6A336D9D82D028 | c:\\docs\\manual.pdf          ") +
	    found(before, after, "   8513458|04/02/2019|13:26| 54C957D6488420FB3A1AE02923BDC2AE | c:\\projects\\notes.txt       ") +
	    found(after, before, "      4711|12/06/2026|09:30| 25F11042353A49C8AC3B377244FE5B2E | c:\\docs\\changes.txt         ") +
	    found(after, before, "   1053644|12/07/2026|14:08| 642848A8219F90F2A5381228A0524C34 | c:\\tools\\setup.exe          ") +
	    found(after, before, "   8513578|12/07/2026|14:08| D31D69F5D6C207D7BD345258DAA08461 | c:\\projects\\notes.txt       ") +
	    "\n\nFound 6 mismatches\n");
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

namespace {

// Records in the order they are reported in, some only in listing 1 and
// some only in listing 2, and the progress step of the first pass: a
// tenth of listing 2, or 2 for a listing 2 of 10 records or fewer.
struct Placement {
	std::string what;
	std::vector<std::string> sorted;
	std::set<size_t> only_in_one, only_in_two;
	std::vector<std::string> options;
	size_t first_step;
};

// Both listings in orders of their own, so that a place can only come
// from the sort; the records missing from the other listing must come
// between the progress counters where a walk through the whole sorted
// listing would have shown them.
void
check_placement(const Placement &p)
{
	std::vector<std::string> one, two;
	std::vector<bool> missing_1, missing_2;
	for (size_t i = 0; i < p.sorted.size(); i++) {
		if (!p.only_in_two.count(i)) {
			one.push_back(p.sorted[i]);
			missing_1.push_back(p.only_in_one.count(i) > 0);
		}
		if (!p.only_in_one.count(i)) {
			two.push_back(p.sorted[i]);
			missing_2.push_back(p.only_in_two.count(i) > 0);
		}
	}
	std::vector<std::string> one_sorted = one, two_sorted = two;
	std::reverse(one.begin(), one.end());
	std::rotate(two.begin(), two.begin() + long(two.size() / 3), two.end());
	TempDir dir;
	dir.write("a.txt", hash_listing(one));
	dir.write("b.txt", hash_listing(two));
	std::vector<std::string> args = { "a.txt", "b.txt" };
	args.insert(args.end(), p.options.begin(), p.options.end());
	RunResult r = run_rowsift_merged(dir.path, args);
	EXPECT_EQ(r.status, 0) << p.what;
	size_t counter = 0;
	std::string passes = "\n" + pass_text(one_sorted, missing_1, p.first_step, "a.txt", "b.txt", counter);
	passes += "\n   Compare file records in 1 not in 2\n";
	passes += pass_text(two_sorted, missing_2, 500, "b.txt", "a.txt", counter);
	passes += format("   Compare file records in 2 not in 1\n\nFound %zu mismatches\n",
	    p.only_in_one.size() + p.only_in_two.size());
	passes += "\n**********************************\n\n";
	size_t start = r.out.find("\nProcessed      0");
	ASSERT_NE(start, std::string::npos) << p.what << "\n" << r.out;
	EXPECT_EQ(r.out.substr(start), passes) << p.what;
}

std::vector<std::string>
numbered(size_t count, const char *pattern)
{
	std::vector<std::string> records;
	for (size_t i = 0; i < count; i++)
		records.push_back(format(pattern, int(i) * 7));
	return records;
}

} // namespace

TEST(Comparison, MissingRecordsComeBetweenTheCountersInTheirSortedPlace)
{
	check_placement({ "30 records", numbered(30, "%08d|some file name"),
	    { 0, 7, 8, 29 }, { 3, 16 }, {}, 2 });
	// Listing 2 of 9, 10, 11 and 20 records: the step is 2, 2, 1 and 2.
	for (size_t count : { 9u, 10u, 11u, 20u }) {
		check_placement({ "listing 2 of " + std::to_string(count) + " records",
		    numbered(count + 2, "%08d|some file name"), { 1, count + 1 }, { count / 2 },
		    {}, count == 11 ? 1u : 2u });
	}
}

TEST(Comparison, RecordsThatDifferOnlyAfterALongCommonStartArePlacedToo)
{
	// The records share 24 characters and differ only in the last two,
	// past the bytes the sort caches for each record.
	const std::string common = "  12  |c:\\shared\\folder\\";
	std::vector<std::string> exact;
	for (const char *tail : { "A1", "A7", "B0", "Z9", "_a", "a0", "a3", "b5", "q2", "z1", "z8" })
		exact.push_back(common + tail);
	check_placement({ "byte order", exact, { 0, 4, 9 }, { 2, 10 }, {}, 2 });
	// Ignoring case, "_" comes before the letters and each letter beside
	// its other case.
	std::vector<std::string> folded;
	for (const char *tail : { "_a", "A1", "a3", "A7", "b0", "B5", "q2", "Z1", "z8", "Z9" })
		folded.push_back(common + tail);
	check_placement({ "-i", folded, { 1, 5, 8 }, { 3, 7 }, { "-i" }, 2 });
}

TEST(Comparison, ListingOneOfAPowerOfTwoOfDistinctRecords)
{
	// However many fields listing 1 has, a record of listing 2 without a
	// partner is found missing: the search for it comes to an end.
	const std::string stray = "99999999|some file name";
	for (int count : { 16, 1024 }) {
		std::vector<std::string> records;
		for (int i = 0; i < count; i++)
			records.push_back(format("%08d|some file name", i));
		TempDir dir;
		dir.write("a.txt", hash_listing(records));
		dir.write("b.txt", hash_listing({ records[3], stray }));
		RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-2" });
		EXPECT_EQ(r.status, 0) << count;
		EXPECT_EQ(r.out, format("\nInput file #1:   a.txt  %d records\n", count) +
		    "Input file #2:   b.txt  2 records\n\n" + found("b.txt", "a.txt", stray) +
		    "\n\nFound 1 mismatches\n");
	}
}

static char
fold_letter(char c)
{
	return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}


static bool
sorts_before(const std::string &a, const std::string &b, bool fold)
{
	if (!fold)
		return a < b;
	return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
		return static_cast<unsigned char>(fold_letter(x)) < static_cast<unsigned char>(fold_letter(y));
	});
}

// The passes of a whole run as they appear with stderr merged into
// stdout: each listing sorted, each record missing from the other listing
// (no equal record there) in its place among the counters.
static std::string
expected_passes(const std::vector<std::string> &one, const std::vector<std::string> &two, bool fold)
{
	auto key = [fold](std::string r) {
		for (char &c : r)
			c = fold ? fold_letter(c) : c;
		return r;
	};
	std::set<std::string> keys_1, keys_2;
	for (const std::string &r : one)
		keys_1.insert(key(r));
	for (const std::string &r : two)
		keys_2.insert(key(r));
	auto sorted_missing = [&](std::vector<std::string> l, const std::set<std::string> &other,
	    std::vector<bool> &missing) {
		std::stable_sort(l.begin(), l.end(),
		    [fold](const std::string &a, const std::string &b) { return sorts_before(a, b, fold); });
		for (const std::string &r : l)
			missing.push_back(!other.count(key(r)));
		return l;
	};
	std::vector<bool> missing_1, missing_2;
	std::vector<std::string> sorted_1 = sorted_missing(one, keys_2, missing_1);
	std::vector<std::string> sorted_2 = sorted_missing(two, keys_1, missing_2);
	size_t total = size_t(std::count(missing_1.begin(), missing_1.end(), true) +
	    std::count(missing_2.begin(), missing_2.end(), true));
	// The first pass counts in tenths of listing 2.
	size_t counter = 0;
	std::string passes = "\n" + pass_text(sorted_1, missing_1, two.size() / 10, "a.txt", "b.txt", counter);
	passes += "\n   Compare file records in 1 not in 2\n";
	passes += pass_text(sorted_2, missing_2, 500, "b.txt", "a.txt", counter);
	return passes + "   Compare file records in 2 not in 1\n\nFound " + std::to_string(total) +
	    " mismatches\n\n**********************************\n\n";
}

// Equal, or where the texts part, for texts too long to show whole.
static ::testing::AssertionResult
same_text(const std::string &got, const std::string &expected)
{
	auto part = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
	if (part.first == got.end() && part.second == expected.end())
		return ::testing::AssertionSuccess();
	size_t at = size_t(part.first - got.begin());
	size_t from = at > 200 ? at - 200 : 0;
	return ::testing::AssertionFailure() << "the texts part at byte " << at << " of " << got.size()
	    << " (expected " << expected.size() << ")\ngot:      " << got.substr(from, 400)
	    << "\nexpected: " << expected.substr(from, 400);
}

// The merged output of a run from its first progress counter on.
static std::string
merged_passes(const TempDir &dir, const std::vector<std::string> &args)
{
	RunResult r = run_rowsift_merged(dir.path, args);
	EXPECT_EQ(r.status, 0);
	size_t start = r.out.find("\nProcessed      0");
	EXPECT_NE(start, std::string::npos) << r.out.substr(0, 2000);
	return start == std::string::npos ? r.out : r.out.substr(start);
}

// Records that share long prefixes, differ in case, repeat, and come in
// numbers that send every step of the program onto two threads: both
// files are cut in two halves, both tables filled and looked up in two,
// the more than 100,000 records of listing 1 to report sorted on two
// threads, and both listings placed among the counters on two.
TEST(Comparison, LargeListingsInterleaveAsAWalkThroughTheSortedListingWould)
{
	std::vector<std::string> one, two;
	auto record = [](unsigned i) {
		// A third of the records begin alike over 24 characters, a third
		// over 40, and a third with a path in either case.
		std::string path = format("%s\\f%07u.txt", i % 2 ? "Data" : "data", i * 2654435761u % 9999991u);
		std::string r = format("%07u|01/02/2023|", i % 5000);
		if (i % 3 == 0)
			r = "  000000000000000000000000000000000000000" + r + path;
		else if (i % 3 == 1)
			r = "        0000000000000000" + r + path;
		else
			r = path + "|" + r;
		return r + std::string(96 - r.size(), ' ');
	};
	const unsigned shared = 110000, only_one = 104000, only_two = 5000;
	for (unsigned i = 0; i < shared + only_one + only_two; i++) {
		if (i < shared + only_one)
			one.push_back(record(i));
		if (i < shared || i >= shared + only_one)
			two.push_back(record(i));
	}
	// Duplicates on both sides, of shared records and of missing ones.
	for (unsigned i = 0; i < 3000; i++) {
		one.push_back(one[i * 71 % one.size()]);
		two.push_back(two[i * 37 % two.size()]);
	}
	// Each file in an order of its own.
	std::mt19937 draw(3);
	std::shuffle(one.begin(), one.end(), draw);
	std::shuffle(two.begin(), two.end(), draw);
	TempDir dir;
	dir.write("a.txt", hash_listing(one));
	dir.write("b.txt", hash_listing(two));
	EXPECT_TRUE(same_text(merged_passes(dir, { "a.txt", "b.txt" }), expected_passes(one, two, false)));
	EXPECT_TRUE(same_text(merged_passes(dir, { "a.txt", "b.txt", "-i" }), expected_passes(one, two, true)));
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

TEST(Comparison, DirectoryOrOnePipeTwiceIsRefused)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a }));
	ASSERT_EQ(mkdir(dir.file("d").c_str(), 0700), 0);
	RunResult r = run_rowsift(dir.path, { "a.txt", "d" });
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("\nCan't open input file d\n"), std::string::npos) << r.err;

	r = run_program(dir.path, "/bin/bash", { "-c", "cat a.txt | " ROWSIFT_BINARY
	    " /dev/stdin /dev/stdin" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\n\n/dev/stdin and /dev/stdin are one pipe, which can be read only once\n");
}

namespace {

// Listings of 60,000 and 61,000 records, several times what a pipe holds
// at once, that differ in three records and the thousand more: the
// larger one sizes the record tables.
struct PipedListing : testing::Test {
	TempDir dir;
	std::vector<std::string> records;
	void SetUp() override
	{
		for (int i = 0; i < 60000; i++)
			records.push_back(format("%6d", i) + rec_a.substr(6));
		dir.write("one", hash_listing(records));
		for (int i : { 7, 30000, 59999 })
			records[size_t(i)][0] = 'x';
		for (int i = 60000; i < 61000; i++)
			records.push_back(format("%6d", i) + rec_a.substr(6));
		dir.write("two", hash_listing(records));
	}
	// A shell runs `command`, which compares the listings "one" and "two"
	// under the names given; "/dev/fd/" stands for a process
	// substitution's name, which the shell makes.
	void expect_as_files(const std::string &command, const std::string &name1,
	    const std::string &name2) const
	{
		RunResult files = run_rowsift(dir.path, { "one", "two" });
		RunResult r = run_program(dir.path, "/bin/bash", { "-c", command });
		ExpectedRun run;
		run.name1 = name1;
		run.name2 = name2;
		for (size_t at = r.err.find("\nOpened /dev/fd/"); at != std::string::npos;
		    at = r.err.find("\nOpened /dev/fd/", at + 1))
			(run.name1 == "/dev/fd/" ? run.name1 : run.name2) =
			    r.err.substr(at + 8, r.err.find('\n', at + 1) - at - 8);
		run.size1 = long(dir.read("one").size());
		run.size2 = long(dir.read("two").size());
		run.capacity = long(records.size()) + 5;
		run.count1 = 60000;
		run.count2 = long(records.size());
		std::string out = files.out;
		for (auto [from, to] : { std::pair{ std::string("one"), run.name1 }, { "two", run.name2 } })
			for (size_t i = out.find(" " + from); i != std::string::npos; i = out.find(" " + from, i + 1))
				out.replace(i + 1, from.size(), to);
		EXPECT_EQ(r.status, 0) << command;
		EXPECT_EQ(r.out, out) << command;
		EXPECT_EQ(r.err, expected_stderr(run)) << command;
		EXPECT_NE(r.out.find("Found 1006 mismatches"), std::string::npos) << r.out;
	}
};

} // namespace

// A pipe is read whole as it is counted: the run says what it says of a
// file of the size read.
TEST_F(PipedListing, ComparesAsTheFileWouldFromStdinAProcessSubstitutionOrAFifo)
{
	expect_as_files("cat two | " ROWSIFT_BINARY " one /dev/stdin", "one", "/dev/stdin");
	expect_as_files(ROWSIFT_BINARY " <(cat one) <(cat two)", "/dev/fd/", "/dev/fd/");
	ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
	expect_as_files("cat two > fifo & " ROWSIFT_BINARY " one fifo", "one", "fifo");
}

namespace {

// Until a thread of the run waits in poll(), as it does on a FIFO that no
// writer has opened; false when the run ends first.
bool
waits_on_a_writer(pid_t pid)
{
	std::string proc = "/proc/" + std::to_string(pid);
	for (;;) {
		std::ifstream stat(proc + "/stat");
		std::string line;
		std::getline(stat, line);
		if (line.empty() || line.compare(line.rfind(')'), 3, ") Z") == 0)
			return false;
		for (const auto &task : std::filesystem::directory_iterator(proc + "/task")) {
			std::ifstream syscall(task.path() / "syscall");
			std::string number;
			syscall >> number;
			if (number == std::to_string(SYS_poll))
				return true;
		}
		sched_yield();
	}
}

} // namespace

// Reading a FIFO means waiting for its writer, as any reader does; a stop
// signal still ends the wait.
TEST_F(PipedListing, FifoIsWaitedOnUntilItsWriterComesOrTheRunIsStopped)
{
	ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
	HeldRun run = start_held_run(dir.path, { "one", "fifo" });
	ASSERT_TRUE(waits_on_a_writer(run.pid));
	int writer = open(dir.file("fifo").c_str(), O_WRONLY);
	std::string two = dir.read("two");
	ASSERT_EQ(write(writer, two.data(), two.size()), ssize_t(two.size()));
	close(writer);
	RunResult r = finish_held_run(run);
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("Found 1006 mismatches"), std::string::npos) << r.out;

	run = start_held_run(dir.path, { "one", "fifo" });
	ASSERT_TRUE(waits_on_a_writer(run.pid));
	kill(run.pid, SIGINT);
	r = finish_held_run(run);
	EXPECT_EQ(r.status, 128 + SIGINT);
	EXPECT_EQ(r.out, "");
}

// What came before a failed read is no listing.
TEST_F(PipedListing, ReadErrorIsAFailureNeverAShortListing)
{
	RunResult r = run_program(dir.path, "/bin/bash", { "-c", "cat one | LD_PRELOAD=" FAIL_READ_SHIM
	    " ASAN_OPTIONS=verify_asan_link_order=0 " ROWSIFT_BINARY " /dev/stdin two" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err.find("Processing"), std::string::npos) << r.err;
	std::string failure = " bytes from /dev/stdin into memory\nCan't read /dev/stdin file\n";
	ASSERT_GE(r.err.size(), failure.size());
	EXPECT_EQ(r.err.substr(r.err.size() - failure.size()), failure) << r.err;
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

// Listings of two hash algorithms differ in every record: refused, by the
// algorithm their titles name, and under -c and -h by the length of the
// hashes in their first records.
TEST(Comparison, ListingsOfDifferentHashAlgorithmsAreRefused)
{
	TempDir dir;
	auto record = [](const std::string &hash) {
		std::string r = "  12|07/21/2021|18:11| " + hash + " | a.txt";
		return r + std::string(120 - r.size(), ' ');
	};
	auto titled = [&](const std::string &algorithm, const std::string &hash) {
		std::string listing = hash_listing({ record(hash) });
		return "rowsift-list 1.0 listing, " + algorithm + ", path width 30, taken"
		    " 2026-01-02 03:04:05 UTC, of /srv" + listing.substr(listing.find("\r\n"));
	};
	dir.write("md5.txt", titled("md5", std::string(32, 'a')));
	dir.write("sha.txt", titled("sha256", std::string(64, 'a')));
	dir.write("md5b.txt", titled("md5", std::string(32, 'b')));
	dir.write("short.txt", hash_listing({ record(std::string(32, 'a')) }));
	dir.write("long.txt", hash_listing({ record(std::string(64, 'a')) }));
	const std::string refused = "\nmd5.txt holds md5 hashes and sha.txt sha256 hashes: they can't"
	    " be compared\nList the files of sha.txt again with rowsift-list --like md5.txt\n";
	for (const char *option : { "-1", "-c", "-h" }) {
		RunResult r = run_rowsift(dir.path, { "md5.txt", "sha.txt", option });
		EXPECT_EQ(r.status, 1);
		ASSERT_GE(r.err.size(), refused.size());
		EXPECT_EQ(r.err.substr(r.err.size() - refused.size()), refused);
		EXPECT_EQ(r.out, "\nInput file #1:   md5.txt  1 records\n");
	}
	RunResult r = run_rowsift(dir.path, { "short.txt", "long.txt", "-c" });
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find("\nshort.txt holds 32-digit hashes and long.txt sha256 hashes: they"
	    " can't be compared\n"), std::string::npos) << r.err;
	// Without titles the default report compares whole records, whatever
	// they hold; one algorithm compares under every option.
	EXPECT_EQ(run_rowsift(dir.path, { "short.txt", "long.txt" }).status, 0);
	for (const char *option : { "-1", "-c", "-h" })
		EXPECT_EQ(run_rowsift(dir.path, { "md5.txt", "md5b.txt", option }).status,
		    option[1] == 'c' ? 3 : 0);
}
