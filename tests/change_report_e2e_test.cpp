// The change report (-c): records paired by path and by hash.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "run_helper.h"

namespace {

// A record in the layout of the bundled examples, 100 characters long.
std::string
rec(const std::string &hash, const std::string &path, const std::string &time = "02:52")
{
	std::string r = "   5433112|03/13/2019|" + time + "| " + hash + " | " + path;
	return r + std::string(100 - r.size(), ' ');
}

std::string
hash_of(char c)
{
	return std::string(32, c);
}

// A listing of such records under a column-title line that names their
// columns, as the bundled examples have it.
std::string
titled_listing(const std::vector<std::string> &records)
{
	std::string title = "      SIZE|   DATE   | TIME| HASH";
	title += std::string(62 - title.size(), ' ') + "|  PATH  ";
	std::string text = "sumlist hash listing\r\n----- BEGIN\r\n" + title + "\r\n";
	for (const std::string &record : records)
		text += record + "\r\n";
	return text + "----- END\r\n";
}

struct ChangeRun : testing::Test {
	TempDir dir;
	void listings(const std::vector<std::string> &one, const std::vector<std::string> &two)
	{
		dir.write("one.txt", titled_listing(one));
		dir.write("two.txt", titled_listing(two));
	}
	RunResult run(std::vector<std::string> options = {})
	{
		options.insert(options.begin(), { "one.txt", "two.txt", "-c" });
		return run_rowsift(dir.path, options);
	}
	static std::string report(long n1, long n2, const std::string &lines, const std::string &total)
	{
		return format("\nInput file #1:   one.txt  %ld records\nInput file #2:   two.txt  %ld records\n\n",
		    n1, n2) + lines + "\n" + total + "\n";
	}
};

// A tree changed in every way the report names.
const std::vector<std::string> monday = {
	rec(hash_of('1'), "docs/manual.pdf"),
	rec(hash_of('2'), "tools/setup.exe"),
	rec(hash_of('3'), "projects/old-notes.txt"),
	rec(hash_of('4'), "projects/notes.txt"),
	rec(hash_of('5'), "same/a.bin"),
	rec(hash_of('5'), "same/b.bin"),
	rec(hash_of('6'), "kept.txt"),
	rec(hash_of('7'), "dir/rename-me.txt"),
};
const std::vector<std::string> friday = {
	rec(hash_of('A'), "docs/manual.pdf"),
	rec(hash_of('2'), "tools/install/setup.exe"),
	rec(hash_of('8'), "docs/changes.txt"),
	rec(hash_of('4'), "projects/notes.txt", "03:00"),
	rec(hash_of('5'), "same/a.bin"),
	rec(hash_of('5'), "other/b.bin"),
	rec(hash_of('6'), "kept.txt"),
	rec(hash_of('7'), "dir/renamed.txt"),
};

} // namespace

TEST_F(ChangeRun, EveryKindOfChangeSortedByPath)
{
	listings(monday, friday);
	RunResult r = run();
	EXPECT_EQ(r.status, 3) << r.err;
	EXPECT_EQ(r.out, report(8, 8,
	    "moved    dir/rename-me.txt -> dir/renamed.txt\n"
	    "added    docs/changes.txt\n"
	    "changed  docs/manual.pdf (hash)\n"
	    "touched  projects/notes.txt (time)\n"
	    "removed  projects/old-notes.txt\n"
	    "moved    same/b.bin -> other/b.bin\n"
	    "moved    tools/setup.exe -> tools/install/setup.exe\n",
	    "1 changed, 3 moved, 1 added, 1 removed, 1 touched"));
	// A path that begins another comes before it.
	listings({ rec(hash_of('1'), "a.txt"), rec(hash_of('2'), "a") },
	    { rec(hash_of('3'), "a.txt"), rec(hash_of('4'), "a") });
	EXPECT_EQ(run().out, report(2, 2, "changed  a (hash)\nchanged  a.txt (hash)\n",
	    "2 changed, 0 moved, 0 added, 0 removed, 0 touched"));
}

TEST_F(ChangeRun, OneSideOnly)
{
	listings(monday, friday);
	RunResult gone = run({ "-1" });
	EXPECT_EQ(gone.out.find("added "), std::string::npos) << gone.out;
	EXPECT_NE(gone.out.find("removed  projects/old-notes.txt\n"), std::string::npos);
	EXPECT_NE(gone.out.find("1 changed, 3 moved, 0 added, 1 removed, 1 touched\n"),
	    std::string::npos) << gone.out;
	RunResult arrived = run({ "-2" });
	EXPECT_EQ(arrived.out.find("removed "), std::string::npos) << arrived.out;
	EXPECT_NE(arrived.out.find("1 changed, 3 moved, 1 added, 0 removed, 1 touched\n"),
	    std::string::npos) << arrived.out;
}

// A script learns from the status alone whether the report listed any
// change: 3 then, 0 when it listed none, also where -1 or -2 left every
// change out.  The default report keeps 0 whatever it found.
TEST_F(ChangeRun, StatusSaysWhetherTheReportListsAChange)
{
	listings(monday, monday);
	RunResult same = run();
	EXPECT_EQ(same.status, 0);
	EXPECT_EQ(same.out, report(8, 8, "", "0 changed, 0 moved, 0 added, 0 removed, 0 touched"));
	std::vector<std::string> more = monday;
	more.push_back(rec(hash_of('9'), "new.txt"));
	listings(monday, more);
	EXPECT_EQ(run().status, 3);
	EXPECT_EQ(run({ "-1" }).status, 0);
	EXPECT_EQ(run({ "-2" }).status, 3);
	EXPECT_EQ(run_rowsift(dir.path, { "one.txt", "two.txt" }).status, 0);
	listings({ rec(hash_of('1'), "a.txt") }, { rec(hash_of('1'), "a.txt", "03:00") });
	EXPECT_EQ(run({ "-2" }).status, 3) << "touched";
}

TEST_F(ChangeRun, IgnoringCaseAppliesToPathAndHash)
{
	std::string lower(32, 'a');
	listings({ rec(hash_of('A'), "Docs/Manual.pdf"), rec(hash_of('B'), "x.txt") },
	    { rec(lower, "docs/manual.pdf", "03:00"), rec(hash_of('C'), "X.TXT") });
	EXPECT_EQ(run().out, report(2, 2,
	    "removed  Docs/Manual.pdf\n"
	    "added    X.TXT\n"
	    "added    docs/manual.pdf\n"
	    "removed  x.txt\n",
	    "0 changed, 0 moved, 2 added, 2 removed, 0 touched"));
	// The hashes differ in case alone: only the time is named.
	EXPECT_EQ(run({ "-i" }).out, report(2, 2,
	    "touched  Docs/Manual.pdf (time)\n"
	    "changed  x.txt (hash)\n",
	    "1 changed, 0 moved, 0 added, 0 removed, 1 touched"));
}

// The marker of a file that could not be read is no hash: it neither
// moves nor leaves a file merely touched.  Hex digits of either case are.
TEST_F(ChangeRun, OnlyHashesOfHexDigitsPairAsMovesOrTouches)
{
	std::string unreadable = "00000000" + std::string(24, '?');
	listings({ rec(unreadable, "a.txt") }, { rec(unreadable, "b.txt") });
	EXPECT_EQ(run().out, report(1, 1, "removed  a.txt\nadded    b.txt\n",
	    "0 changed, 0 moved, 1 added, 1 removed, 0 touched"));
	// Digits written in lower case are a hash too.
	std::string lower = "0123456789abcdef0123456789abcdef";
	listings({ rec(lower, "a.txt") }, { rec(lower, "b.txt") });
	EXPECT_EQ(run().out, report(1, 1, "moved    a.txt -> b.txt\n",
	    "0 changed, 1 moved, 0 added, 0 removed, 0 touched"));
	listings({ rec(unreadable, "a.txt"), rec(hash_of('1'), "b.txt") },
	    { rec(unreadable, "a.txt", "03:00"), rec(hash_of('1'), "b.txt", "03:00") });
	EXPECT_EQ(run().out, report(2, 2, "changed  a.txt (time)\ntouched  b.txt (time)\n",
	    "1 changed, 0 moved, 0 added, 0 removed, 1 touched"));
}

// A path listed twice (overlapping roots) is never added or removed while
// the other listing holds it; records of one path pair in the order of
// their hashes, whatever their order in the files, and a note names the
// first such path.
TEST_F(ChangeRun, PathsListedMoreThanOnce)
{
	std::vector<std::string> one = { rec(hash_of('1'), "e.txt"), rec(hash_of('5'), "b.txt"),
		rec(hash_of('3'), "b.txt"), rec(hash_of('7'), "c.txt") };
	std::vector<std::string> two = { rec(hash_of('1'), "e.txt"), rec(hash_of('2'), "e.txt"),
		rec(hash_of('4'), "b.txt"), rec(hash_of('7'), "c.txt", "03:00") };
	// A record left over names no columns: it has no partner to differ
	// from.
	const std::string expected = report(4, 4,
	    "changed  b.txt\n"
	    "changed  b.txt (hash)\n"
	    "touched  c.txt (time)\n"
	    "changed  e.txt\n",
	    "3 changed, 0 moved, 0 added, 0 removed, 1 touched");
	const std::string note = "\nNote: one.txt lists b.txt more than once; records of one path"
	    " were paired in the order of their hashes\n";
	listings(one, two);
	RunResult r = run();
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.out, expected);
	EXPECT_NE(r.err.find(note + "\n****"), std::string::npos) << r.err;
	run({ "-o", "changes.txt" });
	EXPECT_NE(dir.read("changes.txt.log").find(note), std::string::npos);
	std::reverse(one.begin(), one.end());
	std::reverse(two.begin(), two.end());
	listings(one, two);
	EXPECT_EQ(run().out, expected);
	// One record of the path found whole, the other left over.
	listings({ rec(hash_of('1'), "a.txt") }, { rec(hash_of('1'), "a.txt"), rec(hash_of('2'), "a.txt") });
	r = run();
	EXPECT_EQ(r.out, report(1, 2, "changed  a.txt\n", "1 changed, 0 moved, 0 added, 0 removed, 0 touched"));
	EXPECT_NE(r.err.find("\nNote: two.txt lists a.txt more than once"), std::string::npos);
	// Listed twice on one side, the path alone in the other listing.
	listings({ rec(hash_of('3'), "b.txt"), rec(hash_of('3'), "b.txt", "03:00") }, {});
	r = run();
	EXPECT_EQ(r.out, report(2, 0, "removed  b.txt\nremoved  b.txt\n",
	    "0 changed, 0 moved, 0 added, 2 removed, 0 touched"));
	EXPECT_NE(r.err.find("\nNote: one.txt lists b.txt more than once"), std::string::npos);
	// Paths listed once are noted nowhere.
	listings(monday, friday);
	EXPECT_EQ(run().err.find("Note"), std::string::npos);
}

TEST_F(ChangeRun, IntoTheOutputFileWithTheTotalInTheLog)
{
	listings(monday, friday);
	RunResult r = run({ "-o", "changes.txt" });
	EXPECT_EQ(r.status, 3);
	std::string total = "1 changed, 3 moved, 1 added, 1 removed, 1 touched\n";
	EXPECT_EQ(r.out, report(8, 8, "", total.substr(0, total.size() - 1)));
	std::string file = dir.read("changes.txt");
	EXPECT_EQ(file.rfind("moved    dir/rename-me.txt -> dir/renamed.txt\n", 0), 0u) << file;
	EXPECT_EQ(file.find(total), std::string::npos);
	std::string log = dir.read("changes.txt.log");
	EXPECT_NE(log.find("Input file #2:   two.txt  8 records\n\n" + total), std::string::npos)
	    << log;
}

TEST_F(ChangeRun, RefusedWhereTheRecordsHoldNoHashOrNoPath)
{
	listings(monday, friday);
	for (const std::vector<std::string> &field : { std::vector<std::string>{ "-h" },
	    { "-d", "3" }, { "-l", "0" }, { "-w", "40" } }) {
		RunResult r = run(field);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, "\nOption -c takes the hash and the path from each record: it can't"
		    " be combined with -d, -l or -h\n");
	}
	// The other system's "HASH | path" records: the hash search begins
	// past the first blank, in the path.
	std::string bare = hash_of('1') + " | c:\\docs\\report.doc";
	listings({ bare }, { bare });
	RunResult no_hash = run();
	EXPECT_EQ(no_hash.status, 1);
	EXPECT_NE(no_hash.err.find("\nNo hash value found in the first record of one.txt\n"),
	    std::string::npos) << no_hash.err;
	std::string pathless = "   5433112|03/13/2019|02:52| " + hash_of('1') + "   ";
	listings({ pathless }, { pathless });
	RunResult no_path = run();
	EXPECT_EQ(no_path.status, 1);
	EXPECT_NE(no_path.err.find("\nNo path after the hash in the first record of one.txt\n"),
	    std::string::npos) << no_path.err;
}

// Without headers the report is the same, but that it names no columns,
// as for listings without a column-title line or with one that names
// other columns than their records hold; -O prints the report's lines as
// they are.
TEST_F(ChangeRun, WithoutHeadersAndToThePrinter)
{
	const std::string unnamed = report(8, 8,
	    "moved    dir/rename-me.txt -> dir/renamed.txt\n"
	    "added    docs/changes.txt\n"
	    "changed  docs/manual.pdf\n"
	    "touched  projects/notes.txt\n"
	    "removed  projects/old-notes.txt\n"
	    "moved    same/b.bin -> other/b.bin\n"
	    "moved    tools/setup.exe -> tools/install/setup.exe\n",
	    "1 changed, 3 moved, 1 added, 1 removed, 1 touched");
	std::string plain_one, plain_two;
	for (const std::string &r : monday)
		plain_one += r + "\r\n";
	for (const std::string &r : friday)
		plain_two += r + "\r\n";
	dir.write("one.txt", plain_one);
	dir.write("two.txt", plain_two);
	EXPECT_EQ(run({ "-x" }).out, unnamed);
	dir.write("one.txt", "----- BEGIN\r\n" + plain_one + "----- END\r\n");
	dir.write("two.txt", "----- BEGIN\r\n" + plain_two + "----- END\r\n");
	EXPECT_EQ(run().out, unnamed);
	// Its "|"s stand elsewhere than the records' do.
	dir.write("one.txt", hash_listing(monday));
	dir.write("two.txt", hash_listing(friday));
	EXPECT_EQ(run().out, unnamed);
	listings(monday, friday);

	ASSERT_EQ(mkdir(dir.file("bin").c_str(), 0755), 0);
	dir.write("bin/print", "#!/bin/sh\ncat \"$1\" > \"$PRINTED\"\n");
	chmod(dir.file("bin/print").c_str(), 0755);
	RunResult printed = run_rowsift(dir.path, { "one.txt", "two.txt", "-c", "-O", "changes.txt" },
	    { "PATH=" + dir.file("bin") + ":/usr/bin:/bin", "PRINTED=" + dir.file("printed") });
	EXPECT_EQ(printed.status, 3);
	EXPECT_EQ(dir.read("printed"), dir.read("changes.txt"));
	EXPECT_EQ(dir.read("changes.txt").rfind("moved    dir/rename-me.txt -> dir/renamed.txt\n", 0), 0u);
}

// A record as rowsift-list writes it, its path padded to the width.
std::string
list_rec(const std::string &hash, const std::string &path, size_t width,
    const std::string &time = "13:30:47")
{
	std::string r = std::string(18, ' ') + "5|2026-12-09|" + time + "| " + hash + " | " + path;
	return r + std::string(44 + hash.size() + width - r.size(), ' ');
}

std::string
list_listing(const std::vector<std::string> &records, size_t width, const std::string &eol,
    const std::string &algorithm = "md5")
{
	std::string title = "               SIZE|   DATE   |  TIME  | HASH";
	title += std::string(42 + (algorithm == "sha256" ? 64 : 32) - title.size(), ' ') + "|  PATH  ";
	std::string text = "rowsift-list 1.0 listing, " + algorithm + ", path width " +
	    std::to_string(width) + ", taken 2026-12-09 13:30:47 UTC, of /srv" + eol +
	    "----- BEGIN" + eol + title + eol;
	for (const std::string &record : records)
		text += record + eol;
	return text + "----- END" + eol;
}

// Records pair by their columns, trimmed: listings of one tree at two
// path widths or with two line ends compare under -c, one taken after a
// long path widened the column too.  The other reports still compare
// bytes and refuse two record lengths, as does -c for listings whose
// columns stand elsewhere.
TEST_F(ChangeRun, ListingsOfTwoWidthsPairByTheirColumns)
{
	const std::string grown = "projects/" + std::string(50, 'g') + ".txt";
	auto tree = [&](size_t width, bool after) {
		std::vector<std::string> records = {
			list_rec(hash_of(after ? 'A' : '1'), "docs/manual.pdf", width),
			list_rec(hash_of('4'), "projects/notes.txt", width, after ? "13:31:00" : "13:30:47"),
			list_rec(hash_of('6'), "kept.txt", width),
			list_rec(hash_of('7'), after ? "dir/renamed.txt" : "dir/rename-me.txt", width),
		};
		for (int i = 0; i < 300; i++)
			records.push_back(list_rec(hash_of('9'), "kept/" + std::to_string(i), width));
		// In another order, so that records pair through the table.
		if (after) {
			records.push_back(list_rec(hash_of('8'), grown, width));
			std::reverse(records.begin(), records.end());
		}
		return records;
	};
	const std::string changes = "moved    dir/rename-me.txt -> dir/renamed.txt\n"
	    "changed  docs/manual.pdf (hash)\n"
	    "added    " + grown + "\n"
	    "touched  projects/notes.txt (time)\n";
	const std::string total = "1 changed, 1 moved, 1 added, 0 removed, 1 touched";
	const std::string none = "0 changed, 0 moved, 0 added, 0 removed, 0 touched";
	// Either listing the narrower, and CR LF beside LF.
	dir.write("one.txt", list_listing(tree(40, false), 40, "\r\n"));
	dir.write("two.txt", list_listing(tree(200, false), 200, "\n"));
	RunResult r = run();
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, report(304, 304, "", none));
	dir.write("one.txt", list_listing(tree(200, false), 200, "\n"));
	dir.write("two.txt", list_listing(tree(40, false), 40, "\r\n"));
	EXPECT_EQ(run().out, report(304, 304, "", none));
	dir.write("two.txt", list_listing(tree(63, true), 63, "\r\n"));
	r = run();
	EXPECT_EQ(r.status, 3) << r.err;
	EXPECT_EQ(r.out, report(304, 305, changes, total));
	dir.write("one.txt", list_listing(tree(40, false), 40, "\n"));
	EXPECT_EQ(run().out, report(304, 305, changes, total));

	auto refused = [&](const std::vector<std::string> &options) {
		RunResult refusal = options.empty() ? run() : run_rowsift(dir.path, options);
		EXPECT_EQ(refusal.status, 1);
		EXPECT_NE(refusal.err.find("The input files have different record lengths\n"),
		    std::string::npos) << refusal.err;
		EXPECT_EQ(refusal.out.find("records\n\n"), std::string::npos) << refusal.out;
	};
	refused({ "one.txt", "two.txt" });
	refused({ "one.txt", "two.txt", "-h" });
	// Another algorithm, another layout.
	dir.write("two.txt", list_listing({ list_rec(std::string(64, '1'), "docs/manual.pdf", 40) }, 40,
	    "\r\n", "sha256"));
	refused({});
	dir.write("one.txt", titled_listing({ rec(hash_of('1'), "docs/manual.pdf") }));
	dir.write("two.txt", list_listing(tree(40, false), 40, "\r\n"));
	refused({});
}

// The layout with modes and owners, as rowsift-list writes it: a record
// of an entry, its path padded to the width.  A directory has no size, no
// time and the mark of an entry with no content for a hash.
struct Entry {
	std::string mode;
	std::string owner;
	std::string group;
	std::string hash;
	std::string path;
	std::string size = "1,234";
	std::string time = "13:30:47";
};

const std::string no_content = "00000000" + std::string(24, '-');

std::string
right_aligned(const std::string &text, size_t width)
{
	return std::string(width - text.size(), ' ') + text;
}

std::string
left_aligned(const std::string &text, size_t width)
{
	return text + std::string(width - text.size(), ' ');
}

std::string
mode_rec(const Entry &e, size_t width)
{
	bool directory = e.mode[0] == 'd';
	std::string r = right_aligned(directory ? "" : e.size, 19) + "|" +
	    (directory ? std::string(10, ' ') : "2026-12-09") + "|" +
	    (directory ? std::string(8, ' ') : e.time) + "|" + e.mode + "|" +
	    left_aligned(e.owner, 16) + "|" + left_aligned(e.group, 16) + "| " + e.hash + " | " + e.path;
	return left_aligned(r, 121 + width);
}

std::string
mode_listing(const std::vector<Entry> &entries, size_t width)
{
	std::string title = "               SIZE|   DATE   |  TIME  |   MODE   |     OWNER      |"
	    "     GROUP      | HASH";
	title = left_aligned(left_aligned(title, 119) + "|  PATH  ", 121 + width);
	std::string text = "rowsift-list 1.0 listing, md5, path width " + std::to_string(width) +
	    ", taken 2026-12-09 13:30:47 UTC, of /srv\n----- BEGIN\n" + title + "\n";
	for (const Entry &e : entries)
		text += mode_rec(e, width) + "\n";
	return text + "----- END\n";
}

const std::string dir_mode = "drwxr-xr-x", file_mode = "-rw-r--r--", link_mode = "lrwxrwxrwx";

// A tree changed in modes, owners, links and directories.  Records of
// one hash pair as moves only with records of their type, and the same
// path holding another type has changed whatever its hash; two
// directories hold the same (no) content.
const std::vector<Entry> before = {
	{ dir_mode, "root", "root", no_content, "bin" },
	{ "-rwxr-xr-x", "root", "root", hash_of('1'), "bin/tool" },
	{ file_mode, "root", "root", hash_of('2'), "etc/passwd" },
	{ "-rw-r-----", "root", "shadow", hash_of('3'), "etc/shadow" },
	{ link_mode, "root", "root", hash_of('4'), "lib/current", "2" },
	{ link_mode, "root", "root", hash_of('6'), "lib/old-name", "2" },
	{ dir_mode, "root", "root", no_content, "srv/data" },
	{ dir_mode, "root", "root", no_content, "srv/gone" },
	{ file_mode, "root", "root", hash_of('7'), "docs/a.txt", "2" },
	{ file_mode, "root", "root", hash_of('8'), "x/file.txt" },
	{ link_mode, "root", "root", hash_of('a'), "lib/a-link" },
	{ file_mode, "root", "root", hash_of('b'), "p/file" },
};
const std::vector<Entry> after = {
	{ dir_mode, "root", "root", no_content, "bin" },
	{ "-rwsr-xr-x", "root", "root", hash_of('1'), "bin/tool" },
	{ file_mode, "alice", "staff", hash_of('2'), "etc/passwd" },
	{ "-rw-------", "1,000", "shadow", hash_of('3'), "etc/shadow" },
	{ link_mode, "root", "root", hash_of('5'), "lib/current", "4", "14:00:00" },
	{ link_mode, "root", "root", hash_of('6'), "lib/new-name", "2" },
	{ "drwxrwxrwx", "root", "root", no_content, "srv/data" },
	{ dir_mode, "root", "root", no_content, "srv/new" },
	{ link_mode, "root", "root", hash_of('7'), "docs/a.txt", "2" },
	{ link_mode, "root", "root", hash_of('8'), "a/link" },
	{ file_mode, "root", "root", hash_of('8'), "z/file.txt" },
	{ file_mode, "root", "root", hash_of('a'), "m/file" },
	{ link_mode, "root", "root", hash_of('a'), "z/link" },
	{ link_mode, "root", "root", hash_of('b'), "p/link" },
};

TEST_F(ChangeRun, ModesOwnersLinksAndDirectories)
{
	const std::string expected = report(12, 14,
	    "added    a/link\n"
	    "touched  bin/tool (mode)\n"
	    "changed  docs/a.txt (mode)\n"
	    "touched  etc/passwd (owner, group)\n"
	    "touched  etc/shadow (mode, owner)\n"
	    "moved    lib/a-link -> z/link\n"
	    "changed  lib/current (size, time, hash)\n"
	    "moved    lib/old-name -> lib/new-name\n"
	    "added    m/file\n"
	    "removed  p/file\n"
	    "added    p/link\n"
	    "touched  srv/data (mode)\n"
	    "removed  srv/gone\n"
	    "added    srv/new\n"
	    "moved    x/file.txt -> z/file.txt\n",
	    "2 changed, 3 moved, 4 added, 2 removed, 4 touched");
	dir.write("one.txt", mode_listing(before, 40));
	dir.write("two.txt", mode_listing(after, 40));
	RunResult r = run();
	EXPECT_EQ(r.status, 3) << r.err;
	EXPECT_EQ(r.out, expected);
	// Two path widths, either the wider.
	dir.write("two.txt", mode_listing(after, 72));
	EXPECT_EQ(run().out, expected);
	dir.write("one.txt", mode_listing(before, 90));
	EXPECT_EQ(run().out, expected);
	dir.write("two.txt", mode_listing(before, 40));
	EXPECT_EQ(run().out, report(12, 12, "", "0 changed, 0 moved, 0 added, 0 removed, 0 touched"));
}

// Listings of two layouts are refused under -c and -h, by their columns,
// before their record lengths are compared; the default report compares
// whole records of one length.
TEST_F(ChangeRun, ListingsOfTwoLayoutsAreRefused)
{
	const std::vector<Entry> files = { before[1], before[2] };
	const std::vector<std::string> today = { list_rec(hash_of('1'), "bin/tool", 40),
		list_rec(hash_of('9'), "etc/passwd", 40) };
	const std::string full = "SIZE, DATE, TIME, MODE, OWNER, GROUP, HASH, PATH";
	const std::string content = "SIZE, DATE, TIME, HASH, PATH";
	auto refused = [&](const std::string &one, const std::string &two,
	    const std::string &option = "-c") {
		RunResult r = run_rowsift(dir.path, { "one.txt", "two.txt", option });
		EXPECT_EQ(r.status, 1);
		const std::string message = "\none.txt has the columns " + one + " and two.txt has " +
		    two + ": they can't be compared\n"
		    "List the files of two.txt again with rowsift-list --like one.txt\n";
		ASSERT_GE(r.err.size(), message.size()) << r.err;
		EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message);
		EXPECT_EQ(r.out, "\nInput file #1:   one.txt  2 records\n");
	};
	dir.write("one.txt", mode_listing(files, 40));
	dir.write("two.txt", list_listing(today, 40, "\n"));
	refused(full, content);
	dir.write("one.txt", list_listing(today, 40, "\n"));
	dir.write("two.txt", mode_listing(files, 40));
	refused(content, full);
	// One record length: the path column of today's layout 45 wider.
	dir.write("one.txt", list_listing({ list_rec(hash_of('1'), "bin/tool", 85),
		list_rec(hash_of('9'), "etc/passwd", 85) }, 85, "\n"));
	refused(content, full);
	RunResult whole = run_rowsift(dir.path, { "one.txt", "two.txt" });
	EXPECT_EQ(whole.status, 0) << whole.err;
	EXPECT_EQ(whole.err.find("can't be compared"), std::string::npos) << whole.err;
	// -h looks listing 2's hashes up at listing 2's place in listing 1's
	// records: every record would be reported missing.
	refused(content, full, "-h");
}

// -h finds the hash of a listing whose first record is a directory at its
// mark: eight zeros, as a hash begins.  Directories compare by that mark
// alone, whatever their mode.
TEST(Change, HashReportFindsTheHashPastADirectory)
{
	TempDir dir;
	dir.write("one.txt", mode_listing({ before[0], before[1], before[2] }, 40));
	dir.write("two.txt", mode_listing({ { "drwx------", "root", "root", no_content, "bin" },
		{ "-rwxr-xr-x", "root", "root", hash_of('9'), "bin/tool" }, after[2] }, 40));
	RunResult r = run_rowsift(dir.path, { "one.txt", "two.txt", "-h" });
	EXPECT_EQ(r.status, 0) << r.err;
	const std::string field = "\nBased on field starting at 86, for 32 characters \n";
	EXPECT_EQ(r.out, "\nInput file #1:   one.txt  3 records\n"
	    "Input file #2:   two.txt  3 records\n\n" +
	    field + found("one.txt", "two.txt", mode_rec(before[1], 40)) +
	    field + found("two.txt", "one.txt", mode_rec({ "-rwxr-xr-x", "root", "root",
		hash_of('9'), "bin/tool" }, 40)) + "\n\nFound 2 mismatches\n");
}

TEST(Change, BundledExamples)
{
	RunResult r = run_rowsift(EXAMPLES_DIR, { "before.txt", "after.txt", "-c" });
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.out, "\nInput file #1:   before.txt  20 records\n"
	    "Input file #2:   after.txt  20 records\n\n"
	    "added    c:\\docs\\changes.txt\n"
	    "removed  c:\\docs\\manual.pdf\n"
	    "changed  c:\\projects\\notes.txt (size, date, time, hash)\n"
	    "changed  c:\\tools\\setup.exe (size, date, time, hash)\n"
	    "\n2 changed, 0 moved, 1 added, 1 removed, 0 touched\n");
}
