// Runs that meet a fault: memory that can't be had, output files that
// can't be written, hostile listings and command lines.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
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

// A pipe is read as it is counted; memory that runs out meanwhile is told
// as for a file, with the bytes read by then.
TEST_F(MemoryRun, PipeThatDoesntFit)
{
	std::string first = hash_listing({ rec_a });
	dir.write("a.txt", first);
	sparse("b.txt", large_file);
	RunResult r = run_program(dir.path, "/bin/bash", { "-c", format("ulimit -v %lu; exec "
	    ROWSIFT_BINARY " a.txt <(cat b.txt)", address_limit >> 10) });
	EXPECT_EQ(r.status, 1);
	std::string start = counting_stderr(6) + "\nOpened a.txt\n" +
	    transient(format(" Getting memory of %zu to process a.txt", first.size())) +
	    "\nOpened /dev/fd/";
	std::string end = "\nLine #929, Buffer Allocation Failed\n";
	EXPECT_EQ(r.err.substr(0, start.size()), start) << r.err;
	ASSERT_GE(r.err.size(), end.size());
	EXPECT_EQ(r.err.substr(r.err.size() - end.size()), end) << r.err;
	EXPECT_NE(r.err.find(" Getting memory of "), r.err.rfind(" Getting memory of ")) << r.err;
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

// The records wait in the stream's buffer until it is closed.
TEST_F(FullDiskRun, OutputFileFailsAtItsLastFlush)
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

TEST_F(FullDiskRun, LogFileThatCantTakeItsHeaderEndsTheRunAtOnce)
{
	on_full_disk("out.txt.log");
	RunResult r = run();
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failure("out.txt.log"));
	EXPECT_EQ(dir.read("out.txt"), "");
}

TEST_F(FullDiskRun, ConsoleThatCantBeWrittenIsAFailure)
{
	int full = open("/dev/full", O_WRONLY);
	RunResult r = run_rowsift_with_stdout(dir.path, { "a.txt", "b.txt" }, full);
	close(full);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(count_of(r.err, "\nCan't write the standard output\n"), 1u) << r.err;
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

TEST(FaultRun, OutputFileWhoseCloseFails)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a, rec_b }));
	dir.write("b.txt", hash_listing({ rec_b, rec_c }));
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "out.txt" },
	    { "LD_PRELOAD=" FAIL_CLOSE_SHIM, "FAIL_CLOSE_NAME=out.txt",
	    "ASAN_OPTIONS=verify_asan_link_order=0" });
	EXPECT_EQ(r.status, 1);
	std::string failure = "\nCan't write output file " + dir.file("out.txt") + "\n";
	ASSERT_GE(r.err.size(), failure.size());
	EXPECT_EQ(r.err.substr(r.err.size() - failure.size()), failure);
	EXPECT_EQ(count_of(r.err, "Can't write"), 1u);
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

namespace {

// Whether text stands in the file between line ends (CR, LF or a zero
// byte) or the file's ends.
bool
is_line_of(const std::string &file, const std::string &text)
{
	static const std::string line_ends("\r\n\0", 3);
	for (size_t at = file.find(text); at != std::string::npos; at = file.find(text, at + 1)) {
		size_t after = at + text.size();
		if ((at == 0 || line_ends.find(file[at - 1]) != std::string::npos) &&
		    (after == file.size() || line_ends.find(file[after]) != std::string::npos))
			return true;
	}
	return false;
}

// A result that holds together: each record reported is a whole line of
// the file it was found in, and the total counts them.
void
expect_records_from_their_files(const RunResult &r, const TempDir &dir)
{
	const std::string heading = "\nFound the following entry in ";
	long reported = 0;
	for (size_t at = r.out.find(heading); at != std::string::npos; at = r.out.find(heading, at + 1)) {
		size_t name = at + heading.size();
		size_t record = r.out.find('\n', name) + 1;
		std::string file = dir.read(r.out.substr(name, r.out.find(" not in ", name) - name));
		std::string text = r.out.substr(record, r.out.find('\n', record) - record);
		EXPECT_TRUE(is_line_of(file, text)) << text;
		reported++;
	}
	EXPECT_NE(r.out.find(format("\n\nFound %ld mismatches\n", reported)), std::string::npos) << r.out;
}

} // namespace

// Lines of 30 bytes of any value but the line ends, ended by CR LF, LF or
// CR, among them lines of another length and zero bytes; b.txt lacks some
// of a.txt's lines and has others changed.
TEST(FaultRun, BinaryDataEndsWithAResultThatHoldsTogetherOrAMessage)
{
	TempDir dir;
	std::mt19937 rng(6);
	const std::vector<std::vector<std::string>> option_sets = { {}, { "-x" }, { "-h" },
	    { "-x", "-h", "-i" }, { "-x", "-d", "7", "-l", "3" } };
	const char *const ends[] = { "\r\n", "\n", "\r" };
	for (int round = 0; round < 10; round++) {
		std::string a, b;
		for (size_t n = 300 + rng() % 300; n > 0; n--) {
			std::string line(rng() % 20 ? 30 : rng() % 40, ' ');
			for (char &c : line) {
				do
					c = char(rng() % 4 ? "aA0 |-"[rng() % 6] : rng());
				while (c == '\r' || c == '\n' || (c == '\0' && rng() % 50));
			}
			line += ends[rng() % 3];
			a += line;
			if (rng() % 10 == 0)
				line[rng() % line.size()] ^= 1;
			if (rng() % 10)
				b += line;
		}
		// Half the rounds put the lines after a proper header.
		std::string header = round % 2 ? "t\r\n----- BEGIN\r\n  PATH  \r\n" : "";
		dir.write("a.txt", header + a);
		dir.write("b.txt", header + b);
		for (const std::vector<std::string> &options : option_sets) {
			for (const std::string second : { "b.txt", "a.txt" }) {
				std::vector<std::string> args = { "a.txt", second };
				args.insert(args.end(), options.begin(), options.end());
				RunResult r = run_rowsift(dir.path, args);
				ASSERT_TRUE(r.status == 0 || r.status == 1) << "round " << round << ": " << r.status;
				if (r.status == 0)
					expect_records_from_their_files(r, dir);
				else
					EXPECT_TRUE(!r.err.empty() && r.err.back() == '\n') << "round " << round;
				// A listing holds every record of itself.
				if (r.status == 0 && second == "a.txt") {
					EXPECT_NE(r.out.find("\n\nFound 0 mismatches\n"), std::string::npos) << r.out;
				}
			}
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

namespace {

// Whether a failed run said that memory ran out, as its last words.
bool
ends_with_memory_message(const std::string &err)
{
	for (const std::string &words : { std::string("rerun program\n"),
	    std::string("Buffer Allocation Failed\n") })
		if (err.size() >= words.size() && err.compare(err.size() - words.size(), words.size(), words) == 0)
			return true;
	return false;
}

} // namespace

// Whatever the address space allows, a run ends with the result it gives
// without a limit, or with a memory message and status 1, never by a
// signal, and the log keeps its header.
TEST_F(MemoryRun, EveryLimitEndsWithTheResultOrAMemoryMessage)
{
	std::vector<std::string> small, large;
	for (int i = 0; i < 20; i++)
		small.push_back(format("%6d", i) + rec_a.substr(6));
	for (int i = 0; i < 200000; i++)
		large.push_back(format("%6d", i) + rec_a.substr(6) + (i % 3 ? "x" : "y"));
	struct Walk {
		const std::vector<std::string> *records;
		unsigned long from, to, step;
	} walks[] = { { &small, 2 << 20, 24 << 20, 256 << 10 },
		{ &large, 4 << 20, 96 << 20, 2 << 20 } };
	for (const Walk &walk : walks) {
		dir.write("a.txt", hash_listing(*walk.records));
		std::vector<std::string> other(*walk.records);
		other.erase(other.begin());
		dir.write("b.txt", hash_listing(other));
		for (bool to_file : { false, true }) {
			std::vector<std::string> run_args = { "a.txt", "b.txt" };
			if (to_file)
				run_args.insert(run_args.end(), { "-o", "out.txt" });
			// The output file is appended to: each run starts without it.
			unlink(dir.file("out.txt").c_str());
			RunResult whole = run_rowsift(dir.path, run_args);
			std::string whole_file = to_file ? dir.read("out.txt") : "";
			for (unsigned long limit = walk.from; limit <= walk.to; limit += walk.step) {
				unlink(dir.file("out.txt").c_str());
				unlink(dir.file("out.txt.log").c_str());
				RunResult r = run_rowsift_limited(dir.path, run_args, limit);
				// 127: the program could not even be started.
				ASSERT_TRUE(r.status == 0 || r.status == 1 || r.status == 127)
				    << "limit " << limit << ", status " << r.status << "\n" << r.err;
				if (r.status == 0) {
					EXPECT_EQ(r.out, whole.out) << "limit " << limit;
					EXPECT_EQ(r.err, whole.err) << "limit " << limit;
					if (to_file) {
						EXPECT_EQ(dir.read("out.txt"), whole_file) << "limit " << limit;
					}
				} else if (r.status == 1) {
					EXPECT_TRUE(ends_with_memory_message(r.err)) << "limit " << limit << "\n" << r.err;
					EXPECT_EQ(r.out.find("mismatches"), std::string::npos) << "limit " << limit;
				}
				// A log that memory ran out for before its header was
				// written is empty; any other keeps its header.
				std::string log = to_file && dir.exists("out.txt.log") ?
				    dir.read("out.txt.log") : "";
				if (!log.empty()) {
					EXPECT_EQ(log.rfind(log_opening, 0), 0u) << "limit " << limit;
				}
			}
		}
	}
}

// A listing written to while it is compared: the file changes while the
// run loads listing 2, and the run may report nothing from it.
struct ChangingInput : testing::Test {
	TempDir dir;
	std::string a_text;
	void SetUp() override
	{
		std::vector<std::string> records;
		for (int i = 0; i < 200000; i++)
			records.push_back(format("%6d", i) + rec_a.substr(6));
		a_text = hash_listing(records);
		dir.write("a.txt", a_text);
		records.erase(records.begin() + 5);
		dir.write("b.txt", hash_listing(records));
	}
};

// a.txt is rewritten in place, same size, the moment listing 2 begins to
// load: the record at byte 200 and every one after it shift by a byte.
TEST_F(ChangingInput, RewrittenInPlaceGivesNoRecordAndNoResult)
{
	std::string shifted = a_text.substr(0, 200) + "x" + a_text.substr(200, a_text.size() - 201);
	dir.write("shifted.txt", shifted);
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "out.txt" },
	    { "LD_PRELOAD=" ON_MESSAGE_SHIM, "ON_MESSAGE_TEXT=Processing b.txt",
	    "ON_MESSAGE_COMMAND=dd if=shifted.txt of=a.txt conv=notrunc status=none",
	    "ASAN_OPTIONS=verify_asan_link_order=0" });
	EXPECT_EQ(r.status, 1);
	const std::string message = "\nInput file a.txt changed while it was compared\n";
	ASSERT_GE(r.err.size(), message.size());
	EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message);
	EXPECT_EQ(r.out.find("Found"), std::string::npos) << r.out;
	EXPECT_EQ(dir.read("out.txt"), "");
	std::string log = dir.read("out.txt.log");
	EXPECT_NE(log.find(message), std::string::npos) << log;
	EXPECT_EQ(log.find(closing), std::string::npos) << log;
}

// Runs ended from outside: what they wrote stays, in whole lines.
struct StoppedRun : ChangingInput {
	// The lines of an output file, each checked to be a whole mismatch line.
	static size_t whole_lines(const std::string &text)
	{
		size_t lines = 0;
		for (size_t at = 0; at < text.size(); lines++) {
			size_t end = text.find('\n', at);
			if (end == std::string::npos)
				return size_t(-1);
			EXPECT_EQ(text.compare(at, 8, "in file:"), 0) << text.substr(at, end - at);
			at = end + 1;
		}
		return lines;
	}
};

TEST_F(StoppedRun, TermAfterTheRecordsKeepsThemAndTheLog)
{
	HeldRun run = start_held_run(dir.path, { "a.txt", "b.txt", "-o", "out.txt" });
	// Held in the second pass, whose counters come after its records
	// with -o, 500 records apart: far more of them than the pipe holds.
	read_until(run, "Compare file records in 1 not in 2");
	read_until(run, "Processed    500");
	kill(run.pid, SIGTERM);
	RunResult r = finish_held_run(run);
	EXPECT_EQ(r.status, 128 + SIGTERM);
	EXPECT_EQ(whole_lines(dir.read("out.txt")), 1u);
	std::string log = dir.read("out.txt.log");
	EXPECT_EQ(log.rfind(log_opening, 0), 0u) << log;
	EXPECT_NE(log.find(" *****  Comparing records in 2 not in 1"), std::string::npos) << log;
	EXPECT_EQ(log.find(closing), std::string::npos) << log;
}

TEST_F(StoppedRun, FirstOfTwoSignalsIsTheOneTheRunEndsBy)
{
	HeldRun run = start_held_run(dir.path, { "a.txt", "b.txt", "-o", "out.txt" });
	read_until(run, "Compare file records in 1 not in 2");
	read_until(run, "Processed    500");
	kill(run.pid, SIGINT);
	wait_until_handled(run, SIGINT);
	kill(run.pid, SIGTERM);
	EXPECT_EQ(finish_held_run(run).status, 128 + SIGINT);

	// Both pending at once, as when the run was stopped: the handler of
	// the one taken first is not cut into by the other.
	run = start_held_run(dir.path, { "a.txt", "b.txt", "-o", "out.txt" });
	read_until(run, "Processed    500");
	kill(run.pid, SIGSTOP);
	kill(run.pid, SIGINT);
	kill(run.pid, SIGTERM);
	kill(run.pid, SIGCONT);
	EXPECT_EQ(finish_held_run(run).status, 128 + SIGINT);
}

TEST_F(StoppedRun, InterruptWhileLoadingKeepsWhatTheLogWasGiven)
{
	HeldRun run = start_held_run(dir.path, { "a.txt", "b.txt", "-o", "out.txt" });
	read_until(run, "Processing b.txt");
	kill(run.pid, SIGINT);
	RunResult r = finish_held_run(run);
	EXPECT_EQ(r.status, 128 + SIGINT);
	EXPECT_EQ(r.out.find("Found"), std::string::npos) << r.out;
	std::string log = dir.read("out.txt.log");
	EXPECT_NE(log.find("Input file #1:   a.txt  200000 records\n"), std::string::npos) << log;
}

TEST_F(StoppedRun, ClosedConsolePipeIsAFailureAndTheFilesAreKept)
{
	int console[2];
	ASSERT_EQ(pipe(console), 0);
	close(console[0]);
	RunResult r = run_rowsift_with_stdout(dir.path, { "a.txt", "b.txt", "-o", "out.txt" },
	    console[1]);
	close(console[1]);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(count_of(r.err, "\nCan't write the standard output\n"), 1u) << r.err;
	std::string log = dir.read("out.txt.log");
	EXPECT_EQ(log.rfind(log_opening, 0), 0u) << log;
	EXPECT_NE(log.find("Input file #1:   a.txt  200000 records\n"), std::string::npos) << log;
}

// A file of 4 GiB or more is refused at once, before both files are
// counted: a sparse one would take minutes and gigabytes to count.
TEST(FaultRun, FileOf4GiBIsRefusedBeforeItIsCounted)
{
	TempDir dir;
	dir.write("a.txt", hash_listing({ rec_a }));
	dir.write("huge.txt", "");
	ASSERT_EQ(truncate(dir.file("huge.txt").c_str(), off_t(4) << 30), 0);
	for (const std::vector<std::string> &args : { std::vector<std::string>{ "huge.txt", "a.txt" },
	    std::vector<std::string>{ "a.txt", "huge.txt" } }) {
		RunResult r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, "\n\nOpened huge.txt\n");
		EXPECT_EQ(r.out, "\nInput file huge.txt is too large.\n Please find a way of reducing it size\n");
	}
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

	// The same listing from a pipe.
	r = run_program(dir.path, "/bin/bash", { "-c", "cat a.txt | " ROWSIFT_BINARY " /dev/stdin a.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	refusal = "Processing /dev/stdin/dev/stdin has too many records\n"
	    "Maximum of 8000000 records per file are allowed\n";
	EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), refusal.size())), refusal);
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
