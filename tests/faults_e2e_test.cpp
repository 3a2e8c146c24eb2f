// Runs that meet a fault: memory that can't be had, output files that
// can't be written, hostile listings and command lines.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "run_helper.h"

namespace {

const std::string rec_a = "  12  |07/21/2021|18:11| 0123456789ABCDEF0123456789ABCDEF | c:\\a.txt       ";
const std::string rec_b = "  13  |07/21/2021|18:12| 1123456789ABCDEF0123456789ABCDEF | c:\\b.txt       ";
const std::string rec_c = "  14  |07/21/2021|18:13| 2123456789ABCDEF0123456789ABCDEF | c:\\c.txt       ";

const std::string log_opening = "\n*****************************************\nProgram:\n";
const std::string closing = "\n**********************************\n\n";

size_t
count_of(const std::string &text, const std::string &part)
{
	size_t n = 0;
	for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
		n++;
	return n;
}

// A log that holds the header block of a run with these arguments and
// was not closed by the end of the run.
void
expect_header_only(const std::string &log, const std::string &args = "a.txt b.txt -o out.txt")
{
	EXPECT_EQ(log.rfind(log_opening, 0), 0u) << log;
	EXPECT_NE(log.find(" " + args + " \n"), std::string::npos) << log;
	EXPECT_EQ(log.find(closing), std::string::npos) << log;
}

// Well above what the program needs for small listings, well below the
// sizes the tests below ask for.
const unsigned long address_limit = 64ul << 20;
const off_t large_file = 128l << 20;

struct MemoryRun : testing::Test {
	TempDir dir;
	std::vector<std::string> args = { "a.txt", "b.txt", "-o", "out.txt" };
	void SetUp() override
	{
#ifdef ROWSIFT_SANITIZED
		GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
	}
	// A file of the given size that takes no room on disk: all zero bytes,
	// one long line.
	void sparse(const std::string &name, off_t size) const
	{
		dir.write(name, "");
		ASSERT_EQ(truncate(dir.file(name).c_str(), size), 0);
	}
	static long sparse_lines() { return long((large_file + 1022) / 1023); }
};

} // namespace

TEST_F(MemoryRun, RecordTablesThatDontFit)
{
	dir.write("a.txt", std::string(10000000, '\n'));
	dir.write("b.txt", hash_listing({ rec_a }));
	RunResult r = run_rowsift_limited(dir.path, args, address_limit);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, counting_stderr(10000001) + "Line 825, error obtaining memory\n"
	    "This generally means there are too many records in the files\n"
	    "Try and reduce the number of records in the files and rerun program\n");
	expect_header_only(dir.read("out.txt.log"));
}

TEST_F(MemoryRun, FirstBufferThatDoesntFit)
{
	sparse("a.txt", large_file);
	dir.write("b.txt", hash_listing({ rec_a }));
	RunResult r = run_rowsift_limited(dir.path, args, address_limit);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, counting_stderr(sparse_lines() + 1) + "\nOpened a.txt\n" +
	    transient(format(" Getting memory of %ld to process a.txt", long(large_file))) +
	    "\nLine #874, Buffer Allocation Failed\n");
	expect_header_only(dir.read("out.txt.log"));
}

TEST_F(MemoryRun, SecondBufferThatDoesntFit)
{
	std::string first = hash_listing({ rec_a });
	dir.write("a.txt", first);
	sparse("b.txt", large_file);
	RunResult r = run_rowsift_limited(dir.path, args, address_limit);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, counting_stderr(sparse_lines() + 1) + "\nOpened a.txt\n" +
	    transient(format(" Getting memory of %zu to process a.txt", first.size())) +
	    "\nOpened b.txt\n" +
	    transient(format(" Getting memory of %ld to process b.txt", long(large_file))) +
	    "\nLine #929, Buffer Allocation Failed\n");
	expect_header_only(dir.read("out.txt.log"));
}

namespace {

struct FullDiskRun : testing::Test {
	TempDir dir;
	void SetUp() override
	{
		if (access("/dev/full", W_OK) != 0)
			GTEST_SKIP() << "no /dev/full";
		dir.write("a.txt", hash_listing({ rec_a, rec_b }));
		dir.write("b.txt", hash_listing({ rec_b, rec_c }));
	}
	void on_full_disk(const std::string &name) const
	{
		ASSERT_EQ(symlink("/dev/full", dir.file(name).c_str()), 0);
	}
	std::string failure(const std::string &name) const
	{
		return "\nCan't write output file " + dir.file(name) + "\n";
	}
	RunResult run() const { return run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "out.txt" }); }
};

} // namespace

TEST_F(FullDiskRun, OutputFileFailsAtItsClose)
{
	on_full_disk("out.txt");
	RunResult r = run();
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(count_of(r.err, "Can't write"), 1u);
	EXPECT_TRUE(r.err.size() >= failure("out.txt").size() &&
	    r.err.compare(r.err.size() - failure("out.txt").size(), std::string::npos,
	    failure("out.txt")) == 0) << r.err;
	// The log was closed, complete, before the output file.
	std::string log = dir.read("out.txt.log");
	EXPECT_EQ(log.substr(log.size() - closing.size()), closing);
}

TEST_F(FullDiskRun, OutputFileFailsInTheMiddleOfAPass)
{
	std::vector<std::string> many;
	for (int i = 0; i < 3000; i++)
		many.push_back(format("%8d", i) + rec_a.substr(8));
	dir.write("a.txt", hash_listing(many));
	on_full_disk("out.txt");
	RunResult r = run();
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(count_of(r.err, "Can't write"), 1u);
	EXPECT_NE(r.err.find(failure("out.txt")), std::string::npos) << r.err;
	EXPECT_EQ(r.out.find("mismatches"), std::string::npos);
	std::string log = dir.read("out.txt.log");
	expect_header_only(log);
	EXPECT_NE(log.find("Input file #2:   b.txt  2 records\n"), std::string::npos);
}

TEST_F(FullDiskRun, LogFileFailsAndTheOutputFileIsStillComplete)
{
	on_full_disk("out.txt.log");
	RunResult r = run();
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(count_of(r.err, "Can't write"), 1u);
	EXPECT_NE(r.err.find(failure("out.txt.log")), std::string::npos) << r.err;
	EXPECT_EQ(dir.read("out.txt"), "in file: a.txt |not in file: b.txt |" + rec_a + "\n"
	    "in file: b.txt |not in file: a.txt |" + rec_c + "\n");
}

TEST_F(FullDiskRun, BothFailingIsReportedOnce)
{
	on_full_disk("out.txt");
	on_full_disk("out.txt.log");
	RunResult r = run();
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(count_of(r.err, "Can't write"), 1u) << r.err;
}

TEST_F(FullDiskRun, EarlierLogFileIsCheckedWhenALaterOutputOptionTakesOver)
{
	on_full_disk("first.txt.log");
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "first.txt", "-o", "second.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failure("first.txt.log"));
	EXPECT_FALSE(dir.exists("second.txt"));
}

TEST(FaultRun, OutputFileWhereNothingCanBeCreated)
{
	// Root may write anywhere; a regular file standing in for a directory
	// stops it as well.
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a }));
	dir.write("plain", "");
	std::string long_name(5000, 'x');
	std::string deep_name;
	while (deep_name.size() < 5000)
		deep_name += "d/";
	for (const std::string &name : { std::string("plain/out.txt"), long_name, deep_name + "out.txt" }) {
		RunResult r = run_rowsift(dir.path, { "a.txt", "a.txt", "-o", name });
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, "\nCan't open output file " + dir.file(name) + "\n");
		EXPECT_FALSE(dir.exists(name + ".log"));
	}
}

TEST(FaultRun, LinesOf100000Characters)
{
	TempDir dir;
	std::string x(100000, 'x'), y = x, z = x;
	y.back() = 'y';
	z.back() = 'z';
	for (bool no_headers : { false, true }) {
		dir.write("a.txt", no_headers ? x + "\r\n" + y + "\r\n" : hash_listing({ x, y }));
		dir.write("b.txt", no_headers ? x + "\r\n" + z + "\r\n" : hash_listing({ x, z }));
		RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", no_headers ? "-x" : "-i" });
		EXPECT_EQ(r.status, 0);
		EXPECT_NE(r.out.find("in a.txt not in b.txt\n" + y + "\n"), std::string::npos);
		EXPECT_NE(r.out.find("in b.txt not in a.txt\n" + z + "\n"), std::string::npos);
		EXPECT_NE(r.out.find("\n\nFound 2 mismatches\n"), std::string::npos);
	}
}

TEST(FaultRun, BinaryDataEndsWithAResultOrAMessage)
{
	TempDir dir;
	std::mt19937 rng(6);
	const std::vector<std::vector<std::string>> option_sets = { {}, { "-x" }, { "-h" },
	    { "-x", "-h", "-i" }, { "-x", "-d", "7", "-l", "3" } };
	for (int round = 0; round < 10; round++) {
		std::string bytes;
		for (size_t n = rng() % 20000; n > 0; n--)
			bytes += char(rng() % 8 ? "\r\n\0 -|aA0"[rng() % 9] : char(rng()));
		// Half the rounds put the bytes after a proper header.
		dir.write("a.txt", round % 2 ? "t\r\n----- BEGIN\r\n  PATH  \r\n" + bytes : bytes);
		dir.write("b.txt", bytes.substr(bytes.size() / 3));
		for (const std::vector<std::string> &options : option_sets) {
			std::vector<std::string> args = { "a.txt", "b.txt" };
			args.insert(args.end(), options.begin(), options.end());
			RunResult r = run_rowsift(dir.path, args);
			ASSERT_TRUE(r.status == 0 || r.status == 1) << "round " << round << ": " << r.status;
			if (r.status == 0)
				EXPECT_NE(r.out.find(" mismatches\n"), std::string::npos);
			else
				EXPECT_TRUE(!r.err.empty() && r.err.back() == '\n') << "round " << round;
		}
	}
}

TEST(FaultRun, HugeNumbersAndHundredsOfOptionLetters)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a, rec_b }));
	dir.write("b.txt", hash_listing({ rec_b, rec_c }));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-d", "99999999999999999999" });
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find(format("Nothing to compare in a.txt: the compare field starts at 2147483647,"
	    " its records are %zu characters long\n", rec_a.size())), std::string::npos);

	RunResult whole = run_rowsift(dir.path, { "a.txt", "b.txt", "-i", "-1" });
	EXPECT_EQ(whole.status, 0);
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-l", "99999999999999999999", "-i", "-1" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, whole.out);

	std::vector<std::string> args = { "a.txt", "b.txt", "-" + std::string(300, 'i') };
	args.insert(args.end(), 300, "-1");
	r = run_rowsift(dir.path, args);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, whole.out);
}

TEST(FaultRun, EightMillionRecordsAndNotOneMore)
{
	TempDir dir;
	std::string listing = "----- BEGIN\n";
	listing.reserve(listing.size() + 7 * 8000001ul + 10);
	for (int i = 0; i < 8000000; i++)
		listing += "record\n";
	dir.write("a.txt", listing + "----- END\n");
	RunResult r = run_rowsift(dir.path, { "a.txt", "a.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   a.txt  8000000 records\n"
	    "Input file #2:   a.txt  8000000 records\n\n\n\nFound 0 mismatches\n");

	dir.write("a.txt", listing + "record\n----- END\n");
	r = run_rowsift(dir.path, { "a.txt", "a.txt", "-o", "out.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	std::string refusal = "Processing a.txta.txt has too many records\n"
	    "Maximum of 8000000 records per file are allowed\n";
	EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), refusal.size())), refusal);
	expect_header_only(dir.read("out.txt.log"), "a.txt a.txt -o out.txt");
}

namespace {

// Runs rowsift with stdout into a pipe that is read only once the first
// pass has begun on stderr: with more to report than the pipe holds, the
// run waits there, long after both files were loaded, while `meanwhile`
// runs.
RunResult
run_held_in_first_pass(const TempDir &dir, const std::vector<std::string> &args,
    const std::function<void()> &meanwhile)
{
	int out[2];
	if (pipe(out) != 0)
		return {};
	pid_t pid = fork();
	if (pid == 0) {
		setsid();
		int in = open("/dev/null", O_RDONLY);
		int err = open(dir.file(".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		dup2(in, 0);
		dup2(out[1], 1);
		dup2(err, 2);
		close(out[0]);
		if (chdir(dir.path.c_str()) != 0)
			_exit(127);
		exec_rowsift(args);
	}
	close(out[1]);
	// A guard against a run that never gets there, not a measure of speed.
	auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
	while (dir.read(".stderr").find("\nProcessed      0") == std::string::npos &&
	    std::chrono::steady_clock::now() < give_up)
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	meanwhile();
	RunResult result;
	result.out = read_rest(out[0]);
	close(out[0]);
	int status = 0;
	waitpid(pid, &status, 0);
	result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	result.err = dir.read(".stderr");
	return result;
}

} // namespace

TEST(FaultRun, FileThatLosesItsPagesAfterLoadingEndsTheRun)
{
	TempDir dir;
	std::vector<std::string> many;
	for (int i = 0; i < 20000; i++)
		many.push_back(format("%08d", i) + rec_a.substr(8));
	dir.write("a.txt", hash_listing(many));
	dir.write("b.txt", hash_listing({ rec_b }));
	RunResult r = run_held_in_first_pass(dir, { "a.txt", "b.txt" },
	    [&] { ASSERT_EQ(truncate(dir.file("a.txt").c_str(), 0), 0); });
	EXPECT_EQ(r.status, 1);
	std::string failure = "\nCan't read a.txt file\n";
	ASSERT_GE(r.err.size(), failure.size());
	EXPECT_EQ(r.err.substr(r.err.size() - failure.size()), failure);
	EXPECT_EQ(r.out.find("mismatches"), std::string::npos);
}
