// The option parser's reading of the command line.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "front/options.h"
#include "platform/paths.h"
#include "run_helper.h"
#include "run_state.h"

namespace {

// Parses a command line (without the program name) from defaults.
int
parse(std::vector<std::string> args)
{
	settings = RunSettings();
	static std::vector<std::string> kept;
	kept = args;
	kept.insert(kept.begin(), "rowsift");
	static std::vector<char *> argv;
	argv.clear();
	for (std::string &a : kept)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	return parse_options(int(kept.size()), argv.data());
}

// For a death test: the usage screens must not wait for a key on the
// terminal the tests run in, so the dying child leaves its session first.
void
parse_detached(std::vector<std::string> args)
{
	setsid();
	parse(args);
}

} // namespace

TEST(Options, NumbersReadAsAtoiReadsThem)
{
	EXPECT_EQ(read_number("12"), 12);
	EXPECT_EQ(read_number("  +7x"), 7);
	EXPECT_EQ(read_number("-3"), -3);
	EXPECT_EQ(read_number("x"), 0);
	EXPECT_EQ(read_number("-i"), 0);
	EXPECT_EQ(read_number("99999999999999"), 2147483647);
	EXPECT_EQ(read_number("-99999999999999"), -2147483647 - 1);
	// Every kind of white space before the number is passed over.
	EXPECT_EQ(read_number("\t5"), 5);
	EXPECT_EQ(read_number("\n6"), 6);
	EXPECT_EQ(read_number("\v7"), 7);
	EXPECT_EQ(read_number("\f8"), 8);
	EXPECT_EQ(read_number("\r9"), 9);
	EXPECT_EQ(read_number(" \t\r\n-4"), -4);
}

TEST(Options, ResultIsTheFirstOptionIndex)
{
	EXPECT_EQ(parse({ "a.txt", "b.txt" }), 3);
	EXPECT_EQ(parse({ "a.txt", "b.txt", "c.txt", "-x" }), 4);
	EXPECT_TRUE(settings.no_headers);
	EXPECT_EQ(parse({ "a.txt", "-x", "b.txt" }), 2);
}

TEST(Options, LettersCombineAndValuesTakeTheRest)
{
	parse({ "a", "b", "-12ix" });
	EXPECT_FALSE(settings.report_first_missing);
	EXPECT_FALSE(settings.report_second_missing);
	EXPECT_FALSE(settings.match_case);
	EXPECT_TRUE(settings.no_headers);

	parse({ "a", "b", "-d2ix" });
	EXPECT_EQ(settings.field_start, 2);
	EXPECT_TRUE(settings.match_case);
	EXPECT_FALSE(settings.no_headers);

	parse({ "a", "b", "-d", "-i" });
	EXPECT_EQ(settings.field_start, 0);
	EXPECT_TRUE(settings.match_case);

	parse({ "a", "b", "-W", "12", "-L3", "-D", "4", "-H" });
	EXPECT_EQ(settings.field_length, 3);
	EXPECT_EQ(settings.field_start, 4);
	EXPECT_TRUE(settings.hash_field);

	parse({ "a", "b", "-d", "\t\v2", "-l\r\n12" });
	EXPECT_EQ(settings.field_start, 2);
	EXPECT_EQ(settings.field_length, 12);
}

TEST(Options, FirstPlainArgumentEndsTheOptions)
{
	parse({ "a", "b", "-x", "c.txt", "-i" });
	EXPECT_TRUE(settings.match_case);
	parse({ "a", "b", "-", "-x" });
	EXPECT_TRUE(settings.no_headers);
}

TEST(Options, BadLettersAndValuesEndTheRun)
{
	using testing::Eq;
	EXPECT_EXIT(parse_detached({ "a", "b", "-z" }), testing::ExitedWithCode(1), Eq(usage_text()));
	EXPECT_EXIT(parse_detached({ "a", "b", "--x" }), testing::ExitedWithCode(1), Eq(usage_text()));
	EXPECT_EXIT(parse_detached({ "a", "b", "-d" }), testing::ExitedWithCode(1), Eq(usage_text()));
	EXPECT_EXIT(parse_detached({ "a", "b", "-o" }), testing::ExitedWithCode(1),
	    Eq("\nOption -o needs the name of an output file after it\n"));
	EXPECT_EXIT(parse_detached({ "a", "b", "-d", "-5" }), testing::ExitedWithCode(1),
	    Eq("\nOption -d needs a number of 0 or more, not -5\n"));
	EXPECT_EXIT(parse_detached({ "a", "b", "-w-1" }), testing::ExitedWithCode(1),
	    Eq("\nOption -w needs a number of 0 or more, not -1\n"));
}

TEST(Options, OutputNamesBecomeFullPaths)
{
	char here[4096];
	ASSERT_NE(getcwd(here, sizeof here), nullptr);
	std::string cwd = here;
	std::string parent = cwd.substr(0, cwd.rfind('/'));
	const struct {
		const char *name;
		std::string path;
	} table[] = {
		{ "/", "/" },
		{ "/.", "/" },
		{ "/..", "/" },
		{ "/../../a", "/a" },
		{ "/a/./b//c", "/a/b/c" },
		{ "/a/b/../c", "/a/c" },
		{ "/a/..", "/" },
		// A trailing separator still names a directory, except the root.
		{ "/a/b/", "/a/b/" },
		{ "/a/../", "/" },
		{ ".", cwd },
		{ "out.txt", cwd + "/out.txt" },
		{ "./d/../out.txt", cwd + "/out.txt" },
		{ "..", parent.empty() ? "/" : parent },
		{ "newdir/", cwd + "/newdir/" },
	};
	for (const auto &row : table)
		EXPECT_EQ(full_path(row.name), row.path) << row.name;
}
