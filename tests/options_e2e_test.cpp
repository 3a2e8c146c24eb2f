// Options seen from outside: directions, case, field and hash options.
#include <gtest/gtest.h>

#include "run_helper.h"

namespace {

const std::string upper = "  12  |07/21/2021|18:11| 0123456789ABCDEF0123456789ABCDEF | C:\\DIR\\A.TXT  ";
const std::string lower = "  12  |07/21/2021|18:11| 0123456789abcdef0123456789abcdef | c:\\dir\\a.txt  ";
const std::string other = "  99  |01/01/2020|00:00| FFFF456789ABCDEF0123456789ABCDEF | c:\\dir\\b.txt  ";

const std::string counts = "\nInput file #1:   a.txt  2 records\nInput file #2:   b.txt  1 records\n\n";

struct OptionsRun : testing::Test {
	TempDir dir;
	void SetUp() override
	{
		dir.write("a.txt", hash_listing({ upper, other }));
		dir.write("b.txt", hash_listing({ lower }));
	}
	RunResult run(std::vector<std::string> options)
	{
		options.insert(options.begin(), { "a.txt", "b.txt" });
		return run_rowsift(dir.path, options);
	}
};

} // namespace

TEST_F(OptionsRun, Directions)
{
	RunResult one = run({ "-1" });
	EXPECT_EQ(one.out, counts + found("a.txt", "b.txt", upper) + found("a.txt", "b.txt", other) +
	    "\n\nFound 2 mismatches\n");
	EXPECT_EQ(one.err.find("Compare file records in 2 not in 1"), std::string::npos);
	RunResult two = run({ "-2" });
	EXPECT_EQ(two.out, counts + found("b.txt", "a.txt", lower) + "\n\nFound 1 mismatches\n");
	EXPECT_EQ(two.err.find("Compare file records in 1 not in 2"), std::string::npos);
	RunResult none = run({ "-12" });
	EXPECT_EQ(none.out, counts + "\n\nFound 0 mismatches\n");
	EXPECT_EQ(none.status, 0);
}

TEST_F(OptionsRun, IgnoreCase)
{
	RunResult r = run({ "-i" });
	EXPECT_EQ(r.out, counts + found("a.txt", "b.txt", other) + "\n\nFound 1 mismatches\n");
}

TEST_F(OptionsRun, FieldStartAndLength)
{
	// From 2 the size differs; over 4 characters from 2 only "12" and
	// "99" are compared.
	EXPECT_NE(run({ "-d", "2", "-l", "4", "-i" }).out.find("Found 1 mismatches"), std::string::npos);
	EXPECT_NE(run({ "-d2", "-w4" }).out.find("Found 1 mismatches"), std::string::npos);
	// White space of every kind may come before a number.
	for (const char *space : { "\t", "\n", "\v", "\r" }) {
		RunResult r = run({ "-d", space + std::string("2"), std::string("-l") + space + "4" });
		EXPECT_EQ(r.out, counts + found("a.txt", "b.txt", other) + "\n\nFound 1 mismatches\n")
		    << int(space[0]);
	}
	// Past the size and time only the hash and path differ in case.
	EXPECT_NE(run({ "-D", "25", "-L", "32" }).out.find("Found 3 mismatches"), std::string::npos);
	EXPECT_NE(run({ "-D", "25", "-L", "32", "-I" }).out.find("Found 1 mismatches"), std::string::npos);
}

TEST_F(OptionsRun, HashFieldOnTheConsole)
{
	RunResult r = run({ "-hi" });
	std::string based = "Based on field starting at 25, for 32 characters \n";
	EXPECT_EQ(r.out, counts + "\n" + based + found("a.txt", "b.txt", other) + "\n\nFound 1 mismatches\n");
	dir.write("b.txt", hash_listing({ other }));
	r = run({ "-h", "-1" });
	EXPECT_EQ(r.out, counts + "\n" + based + found("a.txt", "b.txt", upper) + "\n\nFound 1 mismatches\n");
	// In the second pass the line goes to the log stream, stderr, as well.
	dir.write("b.txt", hash_listing({ lower }));
	r = run({ "-h", "-2", "-l", "12" });
	EXPECT_NE(r.err.find("Based on field starting at 25, for 12 characters \n"), std::string::npos);
	EXPECT_EQ(r.err.find("\nBased on field"), std::string::npos);
}

TEST_F(OptionsRun, UnknownLettersAndShortCommandLines)
{
	for (const char *bad : { "-z", "-3", "-?", "--x", "-d" }) {
		RunResult r = run({ bad });
		EXPECT_EQ(r.status, 1) << bad;
		EXPECT_EQ(r.out, "") << bad;
	}
	// Arguments after the first plain one are never read.
	RunResult r = run({ "-1", "c.txt", "-z" });
	EXPECT_EQ(r.status, 0);
}

TEST_F(OptionsRun, NegativeNumbersAreRefusedInCommandLineOrder)
{
	RunResult r = run({ "-l", "-4" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nOption -l needs a number of 0 or more, not -4\n");
	r = run({ "-d-1", "-z" });
	EXPECT_EQ(r.err, "\nOption -d needs a number of 0 or more, not -1\n");
	r = run({ "-z", "-d-1" });
	EXPECT_EQ(r.err.find("Option -d"), std::string::npos);
	EXPECT_EQ(r.status, 1);
}
