// The output file, the log file beside it and the print command.
#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

#include "run_helper.h"

namespace {

const std::string rec_a = "  12  |07/21/2021|18:11| 0123456789ABCDEF0123456789ABCDEF | c:\\a.txt       ";
const std::string rec_b = "  13  |07/21/2021|18:12| 1123456789ABCDEF0123456789ABCDEF | c:\\b.txt       ";
const std::string rec_c = "  14  |07/21/2021|18:13| 2123456789ABCDEF0123456789ABCDEF | c:\\c.txt       ";

// The log header with its time line replaced by "<time>".
std::string
header(const std::vector<std::string> &argv)
{
	std::string text = "\n*****************************************\nProgram:\n";
	for (const std::string &arg : argv)
		text += arg + " ";
	return text + "\n<time>\n\n\n";
}

std::string
without_time_lines(const std::string &log)
{
	static const std::regex time_line("[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4} "
	    "GMT, \\d\\d:\\d\\d [^\\n]*\\)\\n");
	return std::regex_replace(log, time_line, "<time>\n");
}

const std::string closing = "\n**********************************\n\n";

struct OutputRun : testing::Test {
	TempDir dir;
	void SetUp() override
	{
		dir.write("a.txt", hash_listing({ rec_a, rec_b }));
		dir.write("b.txt", hash_listing({ rec_b, rec_c }));
	}
	std::string log_block(const std::vector<std::string> &args) const
	{
		std::vector<std::string> argv = args;
		argv.insert(argv.begin(), ROWSIFT_BINARY);
		return header(argv) + "Input file #1:   a.txt  2 records\n"
		    "Input file #2:   b.txt  2 records\n\n"
		    " *****  Comparing records in 1 not in 2\n\n   Found 1 mismatches\n"
		    " *****  Comparing records in 2 not in 1\n\n   Found 1 mismatches\n" + closing;
	}
};

} // namespace

TEST_F(OutputRun, MismatchLinesAndLogBlockAppendedEachRun)
{
	std::vector<std::string> args = { "a.txt", "b.txt", "-o", "out.txt" };
	RunResult r = run_rowsift(dir.path, args);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nInput file #1:   a.txt  2 records\nInput file #2:   b.txt  2 records\n"
	    "\n\n\nFound 2 mismatches\n");
	std::string lines = "in file: a.txt |not in file: b.txt |" + rec_a + "\n"
	    "in file: b.txt |not in file: a.txt |" + rec_c + "\n";
	EXPECT_EQ(dir.read("out.txt"), lines);
	EXPECT_EQ(without_time_lines(dir.read("out.txt.log")), log_block(args));
	// The closing separator goes to the log, not to stderr.
	EXPECT_EQ(r.err.find("*****"), std::string::npos);

	run_rowsift(dir.path, args);
	EXPECT_EQ(dir.read("out.txt"), lines + lines);
	EXPECT_EQ(without_time_lines(dir.read("out.txt.log")), log_block(args) + log_block(args));
}

TEST_F(OutputRun, TimeLineFollowsTz)
{
	run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "utc.txt" }, { "TZ=UTC0" });
	std::string log = dir.read("utc.txt.log");
	EXPECT_TRUE(std::regex_search(log, std::regex(
	    "\\n(\\w{3} \\w{3} \\d\\d (\\d\\d:\\d\\d):\\d\\d \\d{4}) GMT, \\2 UTC \\(UTC/:0")));
	EXPECT_NE(log.find(std::string("(UTC/:0\0)\n", 10)), std::string::npos);
	run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "pst.txt" }, { "TZ=PST8PDT" });
	EXPECT_NE(dir.read("pst.txt.log").find(" PST (PST/PDT:8*)\n"), std::string::npos);
}

TEST_F(OutputRun, OnlyTheFirstPassInTheLog)
{
	std::vector<std::string> args = { "a.txt", "b.txt", "-1o", "out.txt" };
	run_rowsift(dir.path, args);
	std::vector<std::string> argv = args;
	argv.insert(argv.begin(), ROWSIFT_BINARY);
	EXPECT_EQ(without_time_lines(dir.read("out.txt.log")), header(argv) +
	    "Input file #1:   a.txt  2 records\nInput file #2:   b.txt  2 records\n\n"
	    " *****  Comparing records in 1 not in 2\n\n   Found 1 mismatches\n" + closing);
}

TEST_F(OutputRun, ALaterOutputOptionTakesOver)
{
	std::vector<std::string> args = { "a.txt", "b.txt", "-o", "first.txt", "-oO" };
	RunResult r = run_rowsift(dir.path, args);
	EXPECT_EQ(r.status, 0);
	std::vector<std::string> argv = args;
	argv.insert(argv.begin(), ROWSIFT_BINARY);
	EXPECT_EQ(dir.read("first.txt"), "");
	EXPECT_EQ(without_time_lines(dir.read("first.txt.log")), header(argv));
	EXPECT_EQ(without_time_lines(dir.read("O.log")), log_block(args));
	EXPECT_NE(dir.read("O").find(rec_c), std::string::npos);
}

TEST_F(OutputRun, FilesThatCantBeOpened)
{
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "no/such/dir/../out.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/no/such/out.txt\n");
	EXPECT_EQ(r.out, "");

	// A name that ends in "/" names a directory, which is not made.
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "newdir/" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/newdir/\n");
	EXPECT_EQ(r.out, "");
	EXPECT_FALSE(dir.exists("newdir"));
	EXPECT_FALSE(dir.exists("newdir.log"));

	mkdir(dir.file("out.txt.log").c_str(), 0755);
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "./out.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/out.txt.log\n");
	EXPECT_TRUE(dir.exists("out.txt"));
}

TEST_F(OutputRun, OutputOptionWithoutAFileName)
{
	for (auto args : std::vector<std::vector<std::string>>{ { "a.txt", "b.txt", "-o" },
	    { "a.txt", "b.txt", "-o", "-x" } }) {
		RunResult r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out + r.err, "");
	}
	EXPECT_FALSE(dir.exists("-x"));
}

TEST_F(OutputRun, OutputOptionBeforeTheFileNamesStillWritesTheHeader)
{
	std::vector<std::string> args = { "-o", "out.txt", "a.txt", "b.txt" };
	RunResult r = run_rowsift(dir.path, args);
	EXPECT_EQ(r.status, 1);
	std::vector<std::string> argv = args;
	argv.insert(argv.begin(), ROWSIFT_BINARY);
	EXPECT_EQ(without_time_lines(dir.read("out.txt.log")), header(argv));
}

TEST_F(OutputRun, PrinterFormatAndPrintCommandWithoutAShell)
{
	// The fake print program records its arguments, one per line.
	ASSERT_EQ(mkdir(dir.file("bin").c_str(), 0755), 0);
	dir.write("bin/print", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$PRINTED\"\n"
	    "cat \"$1\" > \"$PRINTED.copy\"\n");
	chmod(dir.file("bin/print").c_str(), 0755);
	std::string r160;
	for (int i = 0; i < 160; i++)
		r160 += char('a' + i % 26);
	dir.write("a.txt", hash_listing({ r160 }));
	dir.write("b.txt", hash_listing({ std::string(160, 'z') }));
	std::string name = "my out;$(touch pwned).txt";
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-1O", name },
	    { "PATH=" + dir.file("bin") + ":/usr/bin:/bin", "PRINTED=" + dir.file("printed") });
	EXPECT_EQ(r.status, 0);
	std::string expected = "in file: a.txt |not in file: b.txt |" + r160.substr(0, 75) + "\n" +
	    r160.substr(75, 75) + "\n" + r160.substr(150) + "\n\n";
	EXPECT_EQ(dir.read(name), expected);
	EXPECT_EQ(dir.read("printed"), dir.path + "/" + name + "\n");
	EXPECT_EQ(dir.read("printed.copy"), expected);
	EXPECT_FALSE(dir.exists("pwned"));
}

TEST_F(OutputRun, PrinterFormatKeepsTheLastCharacter)
{
	std::string r76(76, 'q');
	r76.back() = 'E';
	dir.write("a.txt", hash_listing({ r76 }));
	dir.write("b.txt", hash_listing({ std::string(76, 'z') }));
	run_rowsift(dir.path, { "a.txt", "b.txt", "-1O", "p.txt" }, { "PATH=/nonexistent" });
	EXPECT_EQ(dir.read("p.txt"), "in file: a.txt |not in file: b.txt |" + std::string(75, 'q') + "\nE\n\n");
}
