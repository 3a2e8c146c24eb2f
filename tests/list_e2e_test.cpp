// rowsift-list run on trees made here: the listing's bytes, its hashes
// against md5sum, sha256sum and xxhsum, and rowsift reading it before and
// after the tree changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "listing/columns.h"
#include "run_helper.h"

namespace {

const std::string list_binary = ROWSIFT_LIST_BINARY;
const int64_t base_time = 1700000000;	// 2023-11-14 22:13:20 UTC

// Writes a file under dir, its directories made first, with the given
// time of last change.
void
make_file(const TempDir &dir, const std::string &name, const std::string &bytes, int64_t mtime)
{
	std::string path = dir.file(name);
	for (size_t at = path.find('/', dir.path.size() + 1); at != std::string::npos;
	     at = path.find('/', at + 1))
		mkdir(path.substr(0, at).c_str(), 0755);
	dir.write(name, bytes);
	struct timespec times[2] = { { mtime, 0 }, { mtime, 0 } };
	utimensat(AT_FDCWD, path.c_str(), times, 0);
}

std::string
pseudo_random_bytes(size_t n, unsigned seed)
{
	std::string bytes(n, '\0');
	for (size_t i = 0; i < n; i++) {
		seed = seed * 1103515245 + 12345;
		bytes[i] = char(seed >> 16);
	}
	return bytes;
}

RunResult
run_list(const TempDir &dir, const std::vector<std::string> &args, uid_t uid = 0)
{
	return run_program(dir.path, list_binary, args, uid);
}

// A run with the test hooks loaded and set by `hooks` (LIST_HOOK_...=...,
// see tests/shims/list_hooks.c).
RunResult
run_hooked(const TempDir &dir, const std::vector<std::string> &hooks, const std::vector<std::string> &args)
{
	std::vector<std::string> env_args = { "LD_PRELOAD=" LIST_HOOKS_LIBRARY,
		// The sanitizers' runtime would otherwise refuse to come second.
		"ASAN_OPTIONS=verify_asan_link_order=0" };
	env_args.insert(env_args.end(), hooks.begin(), hooks.end());
	env_args.push_back(list_binary);
	env_args.insert(env_args.end(), args.begin(), args.end());
	return run_program(dir.path, "/usr/bin/env", env_args);
}

RunResult
run_shell(const TempDir &dir, const std::string &command)
{
	return run_program(dir.path, "/bin/sh", { "-c", command });
}

// The names in dir, hidden ones included, one a line.
std::string
names_in(const TempDir &dir, const std::string &sub = ".")
{
	return run_shell(dir, "ls -A " + sub).out;
}

std::vector<std::string>
split_lines(const std::string &text, const std::string &eol)
{
	std::vector<std::string> lines;
	size_t start = 0;
	for (size_t end; (end = text.find(eol, start)) != std::string::npos; start = end + eol.size())
		lines.push_back(text.substr(start, end - start));
	EXPECT_EQ(start, text.size()) << "a line without its end";
	return lines;
}

// The records of a listing: the lines between the column title and the
// trailer.
std::vector<std::string>
records_of(const std::string &listing, const std::string &eol = "\r\n")
{
	std::vector<std::string> lines = split_lines(listing, eol);
	if (lines.size() < 4)
		return {};
	EXPECT_EQ(lines[1], "----- BEGIN");
	EXPECT_NE(lines[2].find("  PATH  "), std::string::npos);
	EXPECT_EQ(lines.back(), "----- END");
	return std::vector<std::string>(lines.begin() + 3, lines.end() - 1);
}

// Where rowsift finds it, in either layout.
std::string
path_of(const std::string &record)
{
	std::string path = record.substr(size_t(locate_columns(record.data(), int(record.size())).path_start));
	return path.substr(0, path.find_last_not_of(' ') + 1);
}

std::string
hash_of(const std::string &record)
{
	size_t start = 41;
	return record.substr(start, record.find(' ', start) - start);
}

std::string
upper(std::string text)
{
	std::transform(text.begin(), text.end(), text.begin(), ::toupper);
	return text;
}

// The hash a tool (md5sum, sha256sum, xxhsum -H2) gives a file.
std::string
tool_hash(const std::string &tool, const std::string &path)
{
	std::string command = tool + " < '" + path + "'";
	FILE *pipe = popen(command.c_str(), "r");
	char line[200] = "";
	if (!fgets(line, sizeof line, pipe))
		line[0] = 0;
	pclose(pipe);
	std::string text = line;
	return upper(text.substr(0, text.find(' ')));
}

// The records rowsift reports in each direction, by the listing they are in.
std::map<std::string, std::set<std::string>>
reported(const std::string &out)
{
	std::map<std::string, std::set<std::string>> found;
	const std::string marker = "\nFound the following entry in ";
	for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1)) {
		size_t name_end = out.find(' ', at + marker.size());
		size_t line = out.find('\n', at + 1) + 1;
		std::string record = out.substr(line, out.find('\n', line) - line);
		found[out.substr(at + marker.size(), name_end - at - marker.size())].insert(record);
	}
	return found;
}

// A tree of every kind of entry the walk meets.
void
make_tree(const TempDir &dir)
{
	make_file(dir, "tree/empty", "", base_time);
	make_file(dir, "tree/one", "x", base_time + 1);
	make_file(dir, "tree/docs/report with blanks.txt", std::string(4096, 'r'), base_time + 2);
	make_file(dir, "tree/docs/a|b.txt", "pipe\n", base_time + 3);
	make_file(dir, "tree/docs/na\xc3\xafve.txt", "utf-8\n", base_time + 4);
	make_file(dir, "tree/big/three.bin", pseudo_random_bytes((3 << 20) + 5, 1), base_time + 5);
	make_file(dir, "tree/skip/keep.txt", "kept\n", base_time + 6);
	make_file(dir, "tree/skip/deep/cache/gone.txt", "excluded\n", base_time + 7);
	// 40 bytes: exactly the width the tests use.
	make_file(dir, "tree/exact/" + std::string(34, 'e'), "exact\n", base_time + 8);
	symlink("one", dir.file("tree/link").c_str());
	mkfifo(dir.file("tree/fifo").c_str(), 0644);
}

const std::vector<std::string> tree_paths = {
	"big/three.bin", "docs/a|b.txt", "docs/na\xc3\xafve.txt", "docs/report with blanks.txt",
	"empty", "exact/" + std::string(34, 'e'), "one", "skip/keep.txt",
};

} // namespace

TEST(ListRun, ListsEveryRegularFileInExactlyTheLayoutRowsiftReads)
{
	TempDir dir;
	make_tree(dir);
	RunResult r = run_list(dir, { "--content-only", "-w", "40", "tree", "-e", "cache", "-q" });
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	std::vector<std::string> lines = split_lines(r.out, "\r\n");
	ASSERT_GE(lines.size(), 4u);
	EXPECT_EQ(lines[0].rfind("rowsift-list 1.0 listing, md5, path width 40, taken ", 0), 0u) << lines[0];
	EXPECT_EQ(lines[0].substr(lines[0].size() - 13), " UTC, of tree");
	EXPECT_EQ(lines[2], "               SIZE|   DATE   |  TIME  | HASH                             |  PATH  "
	    + std::string(33, ' '));
	std::vector<std::string> records = records_of(r.out);
	std::vector<std::string> paths;
	for (const std::string &record : records) {
		EXPECT_EQ(record.size(), 44u + 32 + 40) << record;
		paths.push_back(path_of(record));
	}
	EXPECT_EQ(paths, tree_paths);
	EXPECT_EQ(records[4], "                  0|2023-11-14|22:13:20| D41D8CD98F00B204E9800998ECF8427E | empty"
	    + std::string(35, ' '));
	EXPECT_EQ(records[0].substr(0, 40), "          3,145,733|2023-11-14|22:13:25|");
	EXPECT_EQ(records[3].substr(0, 40), "              4,096|2023-11-14|22:13:22|");

	// rowsift takes every record, and finds nothing missing from itself.
	dir.write("monday.txt", r.out);
	RunResult same = run_rowsift(dir.path, { "monday.txt", "monday.txt" });
	EXPECT_EQ(same.status, 0);
	EXPECT_NE(same.out.find("Input file #1:   monday.txt  8 records\n"), std::string::npos) << same.out;
	EXPECT_NE(same.out.find("Found 0 mismatches"), std::string::npos) << same.out;
}

// Sizes where XXH3-128 takes another path (0, 1, 240, 241 bytes, 4 KiB
// and the 3 MiB file), and one read past the 512 KiB buffer by a byte.
TEST(ListRun, HashesAgreeWithMd5sumSha256sumAndXxhsum)
{
	TempDir dir;
	make_tree(dir);
	for (size_t size : { 240, 241, (512 << 10) + 1 })
		make_file(dir, "tree/sizes/" + std::to_string(size), pseudo_random_bytes(size, unsigned(size)),
		    base_time);
	const std::pair<std::string, std::string> tools[] = {
		{ "md5", "md5sum" }, { "sha256", "sha256sum" }, { "xxh128", "xxhsum -H2" },
	};
	for (const auto &[algorithm, tool] : tools) {
		if (algorithm == "xxh128" && run_shell(dir, "command -v xxhsum").status != 0)
			GTEST_SKIP() << "xxhsum is not installed (apt-get install xxhash)";
		RunResult r = run_list(dir, { "--content-only", "-q", "-a", algorithm, "-w", "40", "tree" });
		ASSERT_EQ(r.status, 0) << r.err;
		std::vector<std::string> records = records_of(r.out);
		// The excluded directory is listed now.
		ASSERT_EQ(records.size(), tree_paths.size() + 4);
		for (const std::string &record : records)
			EXPECT_EQ(hash_of(record), tool_hash(tool, dir.file("tree/" + path_of(record))))
			    << algorithm << ": " << record;
	}
}

TEST(ListRun, RowsiftReportsExactlyTheRecordsThatChanged)
{
	TempDir dir;
	make_tree(dir);
	std::vector<std::string> args = { "--content-only", "-q", "-w", "40", "-e", "cache", "-o", "monday.txt", "tree" };
	ASSERT_EQ(run_list(dir, args).status, 0);
	std::vector<std::string> monday = records_of(dir.read("monday.txt"));

	make_file(dir, "tree/docs/a|b.txt", "pipe changed\n", base_time + 3);
	make_file(dir, "tree/new.txt", "new\n", base_time + 9);
	unlink(dir.file("tree/empty").c_str());
	rename(dir.file("tree/one").c_str(), dir.file("tree/uno").c_str());
	make_file(dir, "tree/docs/na\xc3\xafve.txt", "utf-8\n", base_time + 100);
	args[7] = "friday.txt";
	ASSERT_EQ(run_list(dir, args).status, 0);
	std::vector<std::string> friday = records_of(dir.read("friday.txt"));

	auto record_for = [](const std::vector<std::string> &records, const std::string &path) {
		for (const std::string &record : records)
			if (path_of(record) == path)
				return record;
		return std::string("none for " + path);
	};
	RunResult whole = run_rowsift(dir.path, { "monday.txt", "friday.txt" });
	EXPECT_EQ(whole.status, 0);
	std::set<std::string> gone = { record_for(monday, "docs/a|b.txt"), record_for(monday, "empty"),
		record_for(monday, "one"), record_for(monday, "docs/na\xc3\xafve.txt") };
	std::set<std::string> come = { record_for(friday, "docs/a|b.txt"), record_for(friday, "new.txt"),
		record_for(friday, "uno"), record_for(friday, "docs/na\xc3\xafve.txt") };
	auto found = reported(whole.out);
	EXPECT_EQ(found["monday.txt"], gone);
	EXPECT_EQ(found["friday.txt"], come);

	// By hash alone, a rename or a new time is no change.
	RunResult by_hash = run_rowsift(dir.path, { "monday.txt", "friday.txt", "-h" });
	found = reported(by_hash.out);
	EXPECT_EQ(found["monday.txt"], std::set<std::string>({ record_for(monday, "docs/a|b.txt"),
	    record_for(monday, "empty") }));
	EXPECT_EQ(found["friday.txt"], std::set<std::string>({ record_for(friday, "docs/a|b.txt"),
	    record_for(friday, "new.txt") }));
}

TEST(ListRun, PathsPastTheWidthEndTheRunBeforeAnythingIsWritten)
{
	TempDir dir;
	make_tree(dir);
	make_file(dir, "tree/exact/" + std::string(35, 'f'), "one past\n", base_time);
	make_file(dir, "tree/exact/" + std::string(38, 'g'), "four past\n", base_time);
	RunResult r = run_list(dir, { "--content-only", "-q", "-w", "40", "tree", "-o", "out.txt" });
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: 2 paths are longer than the width of 40 bytes; the longest, 44 bytes, is exact/"
	    + std::string(38, 'g') + "; -w 44 would hold them all\n");
	EXPECT_FALSE(dir.exists("out.txt"));
	EXPECT_EQ(run_program(dir.path, "/bin/sh", { "-c", "ls -A | grep -c out.txt" }).out, "0\n");
	r = run_list(dir, { "--content-only", "-q", "-w", "44", "tree", "-o", "w44.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(records_of(dir.read("w44.txt")).size(), tree_paths.size() + 3);

	// Prefix and path make "----- END" only together, and its blank
	// takes four bytes.
	make_file(dir, "joint/--- END", "", base_time);
	r = run_list(dir, { "--content-only", "-q", "-w", "11", "-p", "--", "joint" });
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("the longest, 12 bytes, is -----\\x20END; -w 12"), std::string::npos) << r.err;

	// Without -w or --like the column widens to the longest path,
	// prefix counted, and stays at 200 when every path fits.
	r = run_list(dir, { "--content-only", "-q", "tree" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out.rfind("rowsift-list 1.0 listing, md5, path width 200, ", 0), 0u);
	const std::string long_name = std::string(230, 'h') + " x";
	make_file(dir, "tree/" + long_name, "long\n", base_time);
	r = run_list(dir, { "--content-only", "-q", "-p", "/p/", "tree" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out.rfind("rowsift-list 1.0 listing, md5, path width 235, ", 0), 0u) << r.out.substr(0, 80);
	std::vector<std::string> records = records_of(r.out);
	ASSERT_EQ(records.size(), tree_paths.size() + 4);
	for (const std::string &record : records)
		EXPECT_EQ(record.size(), 44 + 32 + 235u);
	EXPECT_EQ(std::count_if(records.begin(), records.end(), [&](const std::string &record) {
		return path_of(record) == "/p/" + long_name;
	}), 1);
	r = run_list(dir, { "-q", "--like", "w44.txt", "tree" });
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("the longest, 232 bytes"), std::string::npos) << r.err;
}

TEST(ListRun, NamesWithControlBytesAreEscapedAndEveryRecordIsRead)
{
	TempDir dir;
	for (const std::string &name : { std::string("line\nfeed"), std::string("cr\rhere"),
	         std::string("back\\slash"), std::string("x----- END"), std::string("trailing "),
	         std::string("-----"), std::string("\x01start") })
		make_file(dir, "tree/" + name, name, base_time);
	RunResult r = run_list(dir, { "--content-only", "-q", "--lf", "-w", "20", "tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> paths;
	for (const std::string &record : records_of(r.out, "\n"))
		paths.push_back(path_of(record));
	EXPECT_EQ(paths, std::vector<std::string>({ "\\x01start", "-----", "back\\\\slash",
	    "cr\\x0Dhere", "line\\x0Afeed", "trailing\\x20", "x-----\\x20END" }));
	dir.write("list.txt", r.out);
	RunResult read = run_rowsift(dir.path, { "list.txt", "list.txt" });
	EXPECT_NE(read.out.find("list.txt  7 records"), std::string::npos) << read.out;
}

TEST(ListRun, UnreadableFilesKeepTheirRecordAndSetStatusOne)
{
	TempDir dir;
	make_tree(dir);
	make_file(dir, "tree/secret", "hidden\n", base_time);
	chmod(dir.file("tree/secret").c_str(), 0);
	mkdir(dir.file("tree/locked").c_str(), 0);
	// Root reads everything, so the program runs as nobody then.
	uid_t uid = 0;
	if (geteuid() == 0) {
		uid = 65534;
		chmod(dir.path.c_str(), 0755);
		if (run_list(dir, { "--version" }, uid).status != 0)
			GTEST_SKIP() << "running as root, and nobody can't run " << list_binary;
	} else if (access(dir.file("tree/secret").c_str(), R_OK) == 0) {
		GTEST_SKIP() << "this user reads files without permission";
	}
	RunResult r = run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "cache", "tree" }, uid);
	EXPECT_EQ(r.status, 1);
	// The walk meets the directory while a hashing thread meets the file:
	// the two messages come in either order.
	std::vector<std::string> messages = split_lines(r.err, "\n");
	std::sort(messages.begin(), messages.end());
	EXPECT_EQ(messages, (std::vector<std::string>{ "rowsift-list: tree/locked: Permission denied",
	    "rowsift-list: tree/secret: Permission denied" }));
	std::vector<std::string> records = records_of(r.out);
	ASSERT_EQ(records.size(), tree_paths.size() + 1);
	EXPECT_EQ(records[records.size() - 2], "                  7|2023-11-14|22:13:20| 00000000" +
	    std::string(24, '?') + " | secret" + std::string(34, ' '));
}

TEST(ListRun, ExcludePatternsMatchANameOrTheWholePath)
{
	TempDir dir;
	make_tree(dir);
	RunResult r = run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "skip/*", "-e", "*.bin", "-e", "docs/*s*", "tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> paths;
	for (const std::string &record : records_of(r.out))
		paths.push_back(path_of(record));
	EXPECT_EQ(paths, std::vector<std::string>({ "docs/a|b.txt", "docs/na\xc3\xafve.txt", "empty",
	    "exact/" + std::string(34, 'e'), "one" }));

	// A pattern ending in a slash matches directories only.
	r = run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "docs/", "-e", "one/", "-e", "big/*/", "-e", "sk*/deep/", "tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	paths.clear();
	for (const std::string &record : records_of(r.out))
		paths.push_back(path_of(record));
	EXPECT_EQ(paths, std::vector<std::string>({ "big/three.bin", "empty", "exact/" + std::string(34, 'e'),
	    "one", "skip/keep.txt" }));
}

TEST(ListRun, BothThreadsGiveWhatOneThreadGives)
{
	TempDir dir;
	for (int i = 0; i < 1500; i++)
		make_file(dir, format("tree/d%02d/f%04d", i % 37, i), pseudo_random_bytes(size_t(i * 97 % 70000), i),
		    base_time + i);
	for (int i = 0; i < 4; i++)
		make_file(dir, format("tree/large%d", i), pseudo_random_bytes(size_t(2 << 20) + i, 9 + i), base_time);
	RunResult one = run_list(dir, { "--content-only", "-q", "-j", "1", "tree" });
	RunResult two = run_list(dir, { "--content-only", "-q", "tree" });
	ASSERT_EQ(one.status, 0);
	ASSERT_EQ(two.status, 0);
	std::vector<std::string> records = records_of(two.out);
	EXPECT_EQ(records.size(), 1504u);
	EXPECT_EQ(records_of(one.out), records);
	EXPECT_EQ(hash_of(records[1500]), tool_hash("md5sum", dir.file("tree/large0")));
}

TEST(ListRun, TheListingBeingWrittenIsNeverListed)
{
	TempDir dir;
	make_tree(dir);
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "cache", "-o", "tree/list.txt", "tree" }).status, 0);
	std::vector<std::string> first = records_of(dir.read("tree/list.txt"));
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "cache", "-o", "tree/list.txt", "tree" }).status, 0);
	EXPECT_EQ(records_of(dir.read("tree/list.txt")), first);
	EXPECT_EQ(first.size(), tree_paths.size());
	// Nor is the standard output when it is a file in the tree.
	unlink(dir.file("tree/list.txt").c_str());
	RunResult r = run_program(dir.path, "/bin/sh", { "-c", list_binary + " --content-only -q -w 40 -e cache tree > tree/out.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(records_of(dir.read("tree/out.txt")), first);
}

TEST(ListRun, LikeTakesTheLayoutOfAnEarlierListing)
{
	TempDir dir;
	make_tree(dir);
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-a", "sha256", "-w", "60", "--lf", "-o", "monday.txt", "tree" }).status, 0);
	RunResult r = run_list(dir, { "--like", "monday.txt", "-q", "tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out.rfind("rowsift-list 1.0 listing, sha256, path width 60, ", 0), 0u);
	EXPECT_EQ(records_of(r.out, "\n"), records_of(dir.read("monday.txt"), "\n"));
	EXPECT_EQ(run_list(dir, { "--like", "monday.txt", "-w", "50", "tree" }).status, 2);
	dir.write("other.txt", "sumlist hash listing\r\n----- BEGIN\r\n");
	r = run_list(dir, { "--like", "other.txt", "tree" });
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: other.txt: not a listing written by rowsift-list\n");
}

// md5 and xxh128 hashes have one length: only the title lines tell the
// listings apart, for rowsift's refusal and for --like.
TEST(ListRun, Xxh128AndMd5ListingsAreToldApartByTheirTitles)
{
	TempDir dir;
	make_tree(dir);
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-w", "40", "-o", "monday.txt", "tree" }).status, 0);
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-a", "xxh128", "-w", "40", "-o", "friday.txt", "tree" }).status, 0);
	const std::string refused = "\nmonday.txt holds md5 hashes and friday.txt xxh128 hashes: they"
	    " can't be compared\nList the files of friday.txt again with rowsift-list --like monday.txt\n";
	for (const std::vector<std::string> &args : { std::vector<std::string> { "monday.txt", "friday.txt" },
	    { "monday.txt", "friday.txt", "-c" } }) {
		RunResult r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		ASSERT_GE(r.err.size(), refused.size());
		EXPECT_EQ(r.err.substr(r.err.size() - refused.size()), refused);
	}
	ASSERT_EQ(run_list(dir, { "-q", "--like", "friday.txt", "-o", "saturday.txt", "tree" }).status, 0);
	EXPECT_EQ(dir.read("saturday.txt").rfind("rowsift-list 1.0 listing, xxh128, path width 40, ", 0), 0u);
	RunResult r = run_rowsift(dir.path, { "friday.txt", "saturday.txt", "-c" });
	EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// The earlier listing says it was taken at base_time + 100.  The test
// can't make a file whose status changed that long ago, so the hooks give
// the status-change time of some: "a/kept" 2 s before the listing was
// taken, "b/kept" 1 s before.  Reading either fails, so a hash where
// the other files hash as a full run does shows which was taken over.
TEST(ListRun, ReuseTakesOverOnlyTheHashOfAFileThatCantHaveChanged)
{
	TempDir dir;
	make_file(dir, "tree/a/kept", "the same all along\n", base_time);
	make_file(dir, "tree/b/kept", "the same all along\n", base_time);
	make_file(dir, "tree/rewritten", "first text\n", base_time);
	make_file(dir, "tree/appended", "short\n", base_time);
	make_file(dir, "tree/retimed", "abc", base_time);
	make_file(dir, "tree/renamed", "moving\n", base_time);
	make_file(dir, "tree/broken", "unreadable once\n", base_time);
	RunResult r = run_hooked(dir, { "LIST_HOOK_FILE=broken", "LIST_HOOK_ERROR=5" },
	    { "--content-only", "-q", "-w", "20", "--lf", "-o", "old.txt", "tree" });
	ASSERT_EQ(r.status, 1) << r.err;
	std::string old = dir.read("old.txt");
	size_t taken = old.find(", taken ") + 8;
	old.replace(taken, 19, "2023-11-14 22:15:00");
	dir.write("old.txt", old);

	// Rewritten at its old size and given its old time back; appended;
	// rewritten with another time; renamed.
	make_file(dir, "tree/rewritten", "other text\n", base_time);
	make_file(dir, "tree/appended", "short, and more\n", base_time);
	make_file(dir, "tree/retimed", "xyz", base_time + 5);
	rename(dir.file("tree/renamed").c_str(), dir.file("tree/moved").c_str());
	const std::string long_ago = "=" + std::to_string(base_time);
	r = run_hooked(dir, { "LIST_HOOK_FILE=kept", "LIST_HOOK_ERROR=13",
	    "LIST_HOOK_CTIMES=a/kept=1700000098 b/kept=1700000099 appended" + long_ago +
	    " retimed" + long_ago + " moved" + long_ago + " broken" + long_ago },
	    { "-q", "--reuse", "old.txt", "tree" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "rowsift-list: tree/b/kept: Permission denied\n");
	EXPECT_EQ(r.out.rfind("rowsift-list 1.0 listing, md5, path width 20, taken ", 0), 0u);

	RunResult full = run_list(dir, { "--content-only", "-q", "-w", "20", "--lf", "tree" });
	ASSERT_EQ(full.status, 0) << full.err;
	std::vector<std::string> expected = records_of(full.out, "\n");
	for (std::string &record : expected)
		if (path_of(record) == "b/kept")
			record.replace(41, 32, "00000000" + std::string(24, '?'));
	EXPECT_EQ(records_of(r.out, "\n"), expected);
}

// An earlier listing is read whole before any hash is taken from it, and
// refused, with nothing written, when it is not whole or not one layout
// throughout, or when the options ask for another layout.
TEST(ListRun, ReuseRefusesAnEarlierListingItCantTrustWhole)
{
	TempDir dir;
	make_file(dir, "tree/one", "1\n", base_time);
	make_file(dir, "tree/two", "2\n", base_time);
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-w", "20", "-o", "old.txt", "tree" }).status, 0);
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-a", "sha256", "-w", "20", "-o", "sha.txt", "tree" }).status, 0);
	const std::string old = dir.read("old.txt");
	const size_t records_at = old.find("PATH");
	const size_t second_at = old.find("\r\n", old.find("| one")) + 2;
	const std::string cut = "no \"----- END\" line ends it; it may be cut short, and no hash is taken from it";
	const std::string not_record = "is not a record of the layout its title line gives; no hash is taken from it";
	const std::string other_end = "doesn't end as the listing's other lines do; no hash is taken from it";
	struct Case {
		std::string listing;
		std::vector<std::string> options;
		std::string message;
	};
	const std::string help = "\nTry 'rowsift-list --help' for more information.";
	const Case cases[] = {
		{ old.substr(0, old.size() - 11), {}, cut },
		{ std::string(old).replace(old.find("BEGIN"), 5, "BEGUN"), {},
		    "line 2 is not the \"----- BEGIN\" line; no hash is taken from it" },
		{ old.substr(0, old.size() - 40), {}, cut },
		{ std::string(old).insert(old.find("\r\n", records_at) + 2, "\r\n"), {}, "line 4 " + not_record },
		{ std::string(old).replace(second_at - 2, 2, "\n"), {}, "line 4 " + other_end },
		{ std::string(old).replace(second_at, 9, "----- END"), {}, "line 5 " + not_record },
		{ old + "more\r\n", {}, "line 7 follows its \"----- END\" line; no hash is taken from it" },
		{ std::string(old).replace(old.find(", taken "), 31, ""), {}, "its title line doesn't say when it was taken" },
		{ std::string(old).replace(old.find(", taken ") + 8, 10, "2023-02-31"), {},
		    "its title line doesn't say when it was taken" },
		{ old, { "-w", "30" }, "old.txt has a path width of 20; -w asks for 30" + help },
		{ old, { "-a", "sha256" }, "old.txt holds md5 hashes; -a asks for sha256" + help },
		{ old, { "--lf" }, "old.txt has CR LF lines; --lf asks for LF" + help },
		{ old, { "--like", "sha.txt" }, "old.txt holds md5 hashes; --like asks for sha256" + help },
	};
	for (const Case &c : cases) {
		dir.write("old.txt", c.listing);
		std::vector<std::string> args = { "-q", "--reuse", "old.txt" };
		args.insert(args.end(), c.options.begin(), c.options.end());
		args.push_back("tree");
		RunResult r = run_list(dir, args);
		EXPECT_EQ(r.status, 2) << c.message;
		EXPECT_EQ(r.out, "");
		std::string named = c.message.rfind("old.txt", 0) == 0 ? c.message : "old.txt: " + c.message;
		EXPECT_EQ(r.err, "rowsift-list: " + named + "\n");
	}
	// A copy of the tree, or the tree under another name, is no use.
	dir.write("old.txt", old);
	run_shell(dir, "cp -a tree copy");
	for (const char *root : { "copy", "./tree" }) {
		RunResult r = run_list(dir, { "-q", "--reuse", "old.txt", root });
		EXPECT_EQ(r.status, 2) << root;
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, "rowsift-list: old.txt is a listing of other directories; hashes are taken"
		    " only from a listing of the same ones, named alike" + help + "\n");
	}
	// What agrees with the earlier listing is taken.
	dir.write("old.txt", old);
	RunResult r = run_list(dir, { "-q", "--reuse", "old.txt", "-w", "20", "-a", "md5", "tree" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(records_of(r.out), records_of(old));
}

namespace {

// The owner and group columns of what the test user makes: its names,
// padded to the column.
std::string
own_owner_columns()
{
	const struct passwd *user = getpwuid(geteuid());
	const struct group *group = getgrgid(getegid());
	std::string owner = user ? user->pw_name : std::to_string(geteuid());
	std::string group_name = group ? group->gr_name : std::to_string(getegid());
	owner.resize(16, ' ');
	group_name.resize(16, ' ');
	return owner + "|" + group_name + "|";
}

// A tree of one entry of each kind, with modes set whatever the umask.
void
make_kinds_tree(const TempDir &dir)
{
	make_file(dir, "tree/file", "content\n", base_time);
	make_file(dir, "tree/setuid", "run me\n", base_time + 1);
	make_file(dir, "tree/sub/inner", "inner\n", base_time + 2);
	symlink("file", dir.file("tree/link").c_str());
	struct timespec times[2] = { { base_time + 3, 0 }, { base_time + 3, 0 } };
	utimensat(AT_FDCWD, dir.file("tree/link").c_str(), times, AT_SYMLINK_NOFOLLOW);
	mkfifo(dir.file("tree/fifo").c_str(), 0644);
	const std::pair<const char *, mode_t> modes[] = { { "tree", 0755 }, { "tree/file", 0644 },
		{ "tree/setuid", 04755 }, { "tree/sub", 0700 }, { "tree/sub/inner", 0600 }, { "tree/fifo", 0644 } };
	for (const auto &[name, mode] : modes)
		chmod(dir.file(name).c_str(), mode);
}

} // namespace

TEST(ListRun, EveryEntryIsListedWithItsModeAndOwners)
{
	TempDir dir;
	make_kinds_tree(dir);
	dir.write("link-text", "file");
	RunResult r = run_list(dir, { "-q", "--lf", "-w", "20", "-o", "monday.txt", "tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	const std::string owners = own_owner_columns();
	const std::string blank_times = std::string(19, ' ') + "|          |        |";
	const std::string no_content = " 00000000" + std::string(24, '-') + " | ";
	auto hash = [&](const std::string &name) { return std::string(" ").append(tool_hash("md5sum", dir.file(name))) + " | "; };
	auto path = [](const std::string &name) { return name + std::string(20 - name.size(), ' '); };
	std::vector<std::string> lines = split_lines(dir.read("monday.txt"), "\n");
	ASSERT_EQ(lines.size(), 11u) << dir.read("monday.txt");
	EXPECT_EQ(lines[2], "               SIZE|   DATE   |  TIME  |   MODE   |     OWNER      |     GROUP      |"
	    " HASH                             |  PATH" + std::string(15, ' '));
	EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end() - 1), std::vector<std::string>({
		blank_times + "drwxr-xr-x|" + owners + no_content + path("."),
		blank_times + "prw-r--r--|" + owners + no_content + path("fifo"),
		"                  8|2023-11-14|22:13:20|-rw-r--r--|" + owners + hash("tree/file") + path("file"),
		"                  4|2023-11-14|22:13:23|lrwxrwxrwx|" + owners + hash("link-text") + path("link"),
		"                  7|2023-11-14|22:13:21|-rwsr-xr-x|" + owners + hash("tree/setuid") + path("setuid"),
		blank_times + "drwx------|" + owners + no_content + path("sub"),
		"                  6|2023-11-14|22:13:22|-rw-------|" + owners + hash("tree/sub/inner") + path("sub/inner"),
	}));

	// rowsift -h finds the hash column though the first record is a
	// directory's: a file rewritten at its size and time is the one
	// change by hash, and the directory's new mode a change of record.
	make_file(dir, "tree/file", "CONTENT\n", base_time);
	chmod(dir.file("tree/sub").c_str(), 0750);
	ASSERT_EQ(run_list(dir, { "-q", "--lf", "-w", "20", "-o", "friday.txt", "tree" }).status, 0);
	std::vector<std::string> monday = records_of(dir.read("monday.txt"), "\n");
	std::vector<std::string> friday = records_of(dir.read("friday.txt"), "\n");
	ASSERT_EQ(friday.size(), 7u);
	RunResult by_hash = run_rowsift(dir.path, { "monday.txt", "friday.txt", "-h" });
	EXPECT_EQ(by_hash.status, 0) << by_hash.err;
	auto found = reported(by_hash.out);
	EXPECT_EQ(found["monday.txt"], std::set<std::string>({ monday[2] }));
	EXPECT_EQ(found["friday.txt"], std::set<std::string>({ friday[2] }));
	RunResult by_record = run_rowsift(dir.path, { "monday.txt", "friday.txt" });
	found = reported(by_record.out);
	EXPECT_EQ(found["monday.txt"], std::set<std::string>({ monday[2], monday[5] }));
	EXPECT_EQ(found["friday.txt"], std::set<std::string>({ friday[2], friday[5] }));

	// With several roots the roots' records bear their names.
	mkdir(dir.file("other").c_str(), 0711);
	chmod(dir.file("other").c_str(), 0711);
	r = run_list(dir, { "-q", "--lf", "-w", "20", "tree", "other" });
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> paths;
	for (const std::string &record : records_of(r.out, "\n"))
		paths.push_back(path_of(record));
	EXPECT_EQ(paths, std::vector<std::string>({ "other", "tree", "tree/fifo", "tree/file", "tree/link",
	    "tree/setuid", "tree/sub", "tree/sub/inner" }));
	EXPECT_EQ(records_of(r.out, "\n")[0].substr(40, 11), "drwx--x--x|");

	// A link whose text can't be read keeps its record, its size from its
	// status, and the run ends with status 1.
	r = run_hooked(dir, { "LIST_HOOK_FILE=tree/link", "LIST_HOOK_ERROR=5" }, { "-q", "--lf", "-w", "20", "tree" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "rowsift-list: tree/link: Input/output error\n");
	std::vector<std::string> records = records_of(r.out, "\n");
	ASSERT_EQ(records.size(), 7u);
	EXPECT_EQ(records[3], "                  4|2023-11-14|22:13:23|lrwxrwxrwx|" + owners + " 00000000" +
	    std::string(24, '?') + " | " + path("link"));

	// --content-only lists the regular files alone, as before.
	r = run_list(dir, { "-q", "--content-only", "--lf", "-w", "20", "tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(records_of(r.out, "\n"), std::vector<std::string>({
		"                  8|2023-11-14|22:13:20|" + hash("tree/file") + path("file"),
		"                  7|2023-11-14|22:13:21|" + hash("tree/setuid") + path("setuid"),
		"                  6|2023-11-14|22:13:22|" + hash("tree/sub/inner") + path("sub/inner"),
	}));
}

// A directory passed over keeps its own record; an excluded one has none.
TEST(ListRun, PassedOverDirectoriesHaveARecordAndExcludedOnesNone)
{
	TempDir dir;
	make_kinds_tree(dir);
	RunResult r = run_list(dir, { "-q", "-w", "30", "-e", "sub/", "tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> paths;
	for (const std::string &record : records_of(r.out))
		paths.push_back(path_of(record));
	EXPECT_EQ(paths, std::vector<std::string>({ ".", "fifo", "file", "link", "setuid" }));
	r = run_list(dir, { "-q", "-w", "30", "tree", "./tree/sub" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "rowsift-list: ./tree/sub: a directory listed already; passed over\n");
	paths.clear();
	for (const std::string &record : records_of(r.out))
		paths.push_back(path_of(record));
	EXPECT_EQ(paths, std::vector<std::string>({ "./tree/sub", "tree", "tree/fifo", "tree/file", "tree/link",
	    "tree/setuid", "tree/sub", "tree/sub/inner" }));
}

// The earlier listing says it was taken at base_time + 100, and the
// hooks give "kept" files a status-change time before that and fail every
// read of them: a hash where a full run has one was taken over.
TEST(ListRun, LikeAndReuseKeepTheLayoutOfTheEarlierListing)
{
	TempDir dir;
	make_kinds_tree(dir);
	make_file(dir, "tree/kept", "the same all along\n", base_time);
	make_file(dir, "tree/x/other", "", base_time);
	symlink("abcd", dir.file("tree/x/kept").c_str());
	struct timespec times[2] = { { base_time, 0 }, { base_time, 0 } };
	utimensat(AT_FDCWD, dir.file("tree/x/kept").c_str(), times, AT_SYMLINK_NOFOLLOW);
	chmod(dir.file("tree/kept").c_str(), 0644);
	ASSERT_EQ(run_list(dir, { "-q", "-w", "20", "-o", "old.txt", "tree" }).status, 0);
	ASSERT_EQ(run_list(dir, { "-q", "--content-only", "-w", "20", "-o", "content.txt", "tree" }).status, 0);
	for (const std::string name : { "old.txt", "content.txt" }) {
		RunResult r = run_list(dir, { "-q", "--like", name, "tree" });
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(split_lines(r.out, "\r\n").at(2), split_lines(dir.read(name), "\r\n").at(2)) << name;
		EXPECT_EQ(records_of(r.out), records_of(dir.read(name))) << name;
	}
	for (const std::string option : { "--like", "--reuse" }) {
		RunResult r = run_list(dir, { "-q", "--content-only", option, "old.txt", "tree" });
		EXPECT_EQ(r.status, 2) << option;
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, "rowsift-list: old.txt has the layout with modes and owners; --content-only with " +
		    option + " asks for the content-only layout\nTry 'rowsift-list --help' for more information.\n");
	}
	RunResult r = run_list(dir, { "-q", "--reuse", "old.txt", "--like", "content.txt", "tree" });
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: old.txt has the layout with modes and owners; --like asks for the"
	    " content-only layout\nTry 'rowsift-list --help' for more information.\n");

	std::string old = dir.read("old.txt");
	old.replace(old.find(", taken ") + 8, 19, "2023-11-14 22:15:00");
	dir.write("old.txt", old);
	// A new mode, and a regular file of the link's size and time in its
	// place: the link's hash is no file's.
	chmod(dir.file("tree/kept").c_str(), 0600);
	unlink(dir.file("tree/x/kept").c_str());
	make_file(dir, "tree/x/kept", "wxyz", base_time);
	chmod(dir.file("tree/x/kept").c_str(), 0644);
	r = run_hooked(dir, { "LIST_HOOK_FILE=kept", "LIST_HOOK_ERROR=13", "LIST_HOOK_CTIMES=kept=1700000000" },
	    { "-q", "--reuse", "old.txt", "tree" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "rowsift-list: tree/x/kept: Permission denied\n");
	std::vector<std::string> expected = records_of(old);
	ASSERT_EQ(expected.size(), 11u);
	EXPECT_EQ(path_of(expected[3]), "kept");
	expected[3].replace(40, 10, "-rw-------");
	EXPECT_EQ(path_of(expected[9]), "x/kept");
	expected[9].replace(40, 10, "-rw-r--r--");
	expected[9].replace(86, 32, "00000000" + std::string(24, '?'));
	EXPECT_EQ(records_of(r.out), expected);
}

TEST(ListRun, CommandLineFollowsTheUsualConventions)
{
	TempDir dir;
	make_file(dir, "-tree/a", "a", base_time);
	RunResult r = run_list(dir, {});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: no directory to list\nTry 'rowsift-list --help' for more information.\n");
	r = run_list(dir, { "--version" });
	EXPECT_EQ(r.out, "rowsift-list 1.0\n");
	EXPECT_EQ(r.status, 0);
	r = run_list(dir, { "--help" });
	EXPECT_EQ(r.out.rfind("Usage: rowsift-list [OPTION]... DIR...\n", 0), 0u);
	EXPECT_NE(r.out.find("\n  -a, --algorithm NAME    md5 (the default), sha256 or xxh128, the fastest,\n"
	    "                          which detects change but not tampering (sha256 does)\n  -o, "),
	    std::string::npos) << r.out;
	EXPECT_NE(r.out.find("\n      --content-only      list regular files alone, without mode and owner\n"),
	    std::string::npos) << r.out;
	// Help that could not be written is no success.
	r = run_shell(dir, list_binary + " --help > /dev/full");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: standard output: No space left on device\n");
	EXPECT_EQ(run_list(dir, { "--bogus", "." }).status, 2);
	EXPECT_EQ(run_list(dir, { "-w", "0", "." }).status, 2);
	r = run_list(dir, { "-a", "sha1", "." });
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: unknown algorithm 'sha1' (md5, sha256 or xxh128)\n"
	    "Try 'rowsift-list --help' for more information.\n");
	r = run_list(dir, { "-w", "30", "--", "-tree", "-q" });
	EXPECT_EQ(r.status, 2) << "-q after -- is a directory";
	EXPECT_EQ(r.err, "rowsift-list: -q: No such file or directory\n");
	r = run_list(dir, { "--", "-tree", "--prefix=/srv/" });
	EXPECT_EQ(r.status, 2);
	r = run_list(dir, { "--content-only", "-w", "30", "-q", "--prefix=/srv/", "--", "-tree" });
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(path_of(records_of(r.out).at(0)), "/srv/a");
}

// The change report on two listings of a tree changed in every way it
// names.
TEST(ListRun, ChangeReportNamesEveryChangeToATree)
{
	TempDir dir;
	make_file(dir, "tree/docs/manual.pdf", "manual 1\n", base_time);
	make_file(dir, "tree/docs/Readme.txt", "read me\n", base_time);
	make_file(dir, "tree/tools/setup.exe", "setup\n", base_time);
	make_file(dir, "tree/projects/old-notes.txt", "old\n", base_time);
	make_file(dir, "tree/projects/notes.txt", "notes\n", base_time);
	make_file(dir, "tree/same/a.bin", "twin\n", base_time);
	make_file(dir, "tree/same/b.bin", "twin\n", base_time);
	make_file(dir, "tree/dir/rename-me.txt", "renamed\n", base_time);
	std::vector<std::string> args = { "--content-only", "-q", "-o", "monday.txt", "tree" };
	ASSERT_EQ(run_list(dir, args).status, 0);

	make_file(dir, "tree/docs/manual.pdf", "manual 2\n", base_time + 60);
	rename(dir.file("tree/docs/Readme.txt").c_str(), dir.file("tree/docs/README.txt").c_str());
	mkdir(dir.file("tree/tools/install").c_str(), 0755);
	rename(dir.file("tree/tools/setup.exe").c_str(), dir.file("tree/tools/install/setup.exe").c_str());
	unlink(dir.file("tree/projects/old-notes.txt").c_str());
	make_file(dir, "tree/projects/notes.txt", "notes\n", base_time + 3600);
	mkdir(dir.file("tree/other").c_str(), 0755);
	rename(dir.file("tree/same/b.bin").c_str(), dir.file("tree/other/b.bin").c_str());
	rename(dir.file("tree/dir/rename-me.txt").c_str(), dir.file("tree/dir/renamed.txt").c_str());
	make_file(dir, "tree/docs/changes.txt", "changes\n", base_time + 60);
	args[3] = "friday.txt";
	ASSERT_EQ(run_list(dir, args).status, 0);

	const std::string counts = "\nInput file #1:   monday.txt  8 records\n"
	    "Input file #2:   friday.txt  8 records\n\n";
	RunResult all = run_rowsift(dir.path, { "monday.txt", "friday.txt", "-c" });
	EXPECT_EQ(all.status, 3);
	EXPECT_EQ(all.out, counts +
	    "moved    dir/rename-me.txt -> dir/renamed.txt\n"
	    "moved    docs/Readme.txt -> docs/README.txt\n"
	    "added    docs/changes.txt\n"
	    "changed  docs/manual.pdf (time, hash)\n"
	    "touched  projects/notes.txt (time)\n"
	    "removed  projects/old-notes.txt\n"
	    "moved    same/b.bin -> other/b.bin\n"
	    "moved    tools/setup.exe -> tools/install/setup.exe\n"
	    "\n1 changed, 4 moved, 1 added, 1 removed, 1 touched\n");
	// A change of case alone is none under -i.
	RunResult folded = run_rowsift(dir.path, { "monday.txt", "friday.txt", "-c", "-i", "-1" });
	EXPECT_EQ(folded.out, counts +
	    "moved    dir/rename-me.txt -> dir/renamed.txt\n"
	    "changed  docs/manual.pdf (time, hash)\n"
	    "touched  projects/notes.txt (time)\n"
	    "removed  projects/old-notes.txt\n"
	    "moved    same/b.bin -> other/b.bin\n"
	    "moved    tools/setup.exe -> tools/install/setup.exe\n"
	    "\n1 changed, 3 moved, 0 added, 1 removed, 1 touched\n");
	RunResult into_file = run_rowsift(dir.path,
	    { "monday.txt", "friday.txt", "-c", "-2", "-o", "changes.txt" });
	EXPECT_EQ(into_file.out, counts + "\n1 changed, 4 moved, 1 added, 0 removed, 1 touched\n");
	EXPECT_EQ(dir.read("changes.txt").find("removed"), std::string::npos);
	EXPECT_NE(dir.read("changes.txt.log").find("1 changed, 4 moved, 1 added, 0 removed, 1 touched\n"),
	    std::string::npos);
}

// A symbolic link made with the given time, so that a link made again
// within the same second as a listing differs by its target alone.
void
make_link(const TempDir &dir, const std::string &target, const std::string &name, int64_t mtime)
{
	unlink(dir.file(name).c_str());
	symlink(target.c_str(), dir.file(name).c_str());
	struct timespec times[2] = { { mtime, 0 }, { mtime, 0 } };
	utimensat(AT_FDCWD, dir.file(name).c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// What an administrator checks a tree for besides content: modes, owners
// and links, each change named by the columns it touched.
TEST(ListRun, ChangeReportNamesModesOwnersAndLinks)
{
	TempDir dir;
	make_file(dir, "tree/bin/tool", "tool\n", base_time);
	make_file(dir, "tree/etc/passwd", "users\n", base_time);
	make_file(dir, "tree/etc/shadow", "secrets\n", base_time);
	chmod(dir.file("tree/bin/tool").c_str(), 0755);
	mkdir(dir.file("tree/private").c_str(), 0755);
	make_link(dir, "../etc/passwd", "tree/bin/current", base_time);
	make_link(dir, "tool", "tree/bin/old-name", base_time);
	ASSERT_EQ(run_list(dir, { "-q", "-o", "monday.txt", "tree" }).status, 0);

	chmod(dir.file("tree/bin/tool").c_str(), 04755);
	chmod(dir.file("tree/private").c_str(), 0700);
	make_link(dir, "../etc/shadow", "tree/bin/current", base_time);
	rename(dir.file("tree/bin/old-name").c_str(), dir.file("tree/bin/new-name").c_str());
	bool root = geteuid() == 0;
	if (root) {
		ASSERT_EQ(chown(dir.file("tree/etc/shadow").c_str(), 4242, gid_t(-1)), 0);
		ASSERT_EQ(chown(dir.file("tree/etc/passwd").c_str(), uid_t(-1), 4343), 0);
	}
	ASSERT_EQ(run_list(dir, { "-q", "-o", "friday.txt", "tree" }).status, 0);

	RunResult r = run_rowsift(dir.path, { "monday.txt", "friday.txt", "-c" });
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.out, std::string("\nInput file #1:   monday.txt  9 records\n"
	    "Input file #2:   friday.txt  9 records\n\n"
	    "changed  bin/current (hash)\n"
	    "moved    bin/old-name -> bin/new-name\n"
	    "touched  bin/tool (mode)\n") +
	    (root ? "touched  etc/passwd (group)\ntouched  etc/shadow (owner)\n" : "") +
	    "touched  private (mode)\n" +
	    (root ? "\n1 changed, 1 moved, 0 added, 0 removed, 4 touched\n" :
		"\n1 changed, 1 moved, 0 added, 0 removed, 2 touched\n"));
	if (!root)
		GTEST_SKIP() << "changes of owner and group need root to make; not checked";
}

// The hooks change the file at the start of each of its first TIMES reads
// (each pass opens it anew), so that a pass sees the file change under it.
TEST(ListRun, AFileThatChangesOrFailsWhileReadGetsNoHashOfAnotherState)
{
	TempDir dir;
	auto record_after = [&](const std::string &times, const std::string &command) {
		make_file(dir, "tree/f", "0123456789", base_time);
		RunResult r = run_hooked(dir, { "LIST_HOOK_FILE=tree/f", "LIST_HOOK_TIMES=" + times,
		    "LIST_HOOK_COMMAND=" + command }, { "--content-only", "-q", "-j", "1", "-w", "10", "tree" });
		std::vector<std::string> records = records_of(r.out);
		EXPECT_EQ(records.size(), 1u) << r.out;
		return std::make_pair(r, records.empty() ? "" : records[0]);
	};
	// Changed once: read again, and the record holds the size and hash of
	// the file as it now is.
	for (const std::string command : { "printf more >> tree/f", "truncate -s 4 tree/f" }) {
		auto [r, record] = record_after("1", command);
		EXPECT_EQ(r.status, 0) << command << ": " << r.err;
		EXPECT_EQ(r.err, "");
		struct stat st;
		stat(dir.file("tree/f").c_str(), &st);
		EXPECT_EQ(record.substr(0, 19), format("%19lld", (long long)st.st_size)) << command;
		EXPECT_EQ(hash_of(record), tool_hash("md5sum", dir.file("tree/f"))) << command;
	}
	// Changed at every read: no hash, a message and status 1.
	auto [r, record] = record_after("2", "printf more >> tree/f");
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "rowsift-list: tree/f: changed while it was read\n");
	EXPECT_EQ(hash_of(record), "00000000" + std::string(24, '?'));

	// A read that fails the same way.
	r = run_hooked(dir, { "LIST_HOOK_FILE=tree/f", "LIST_HOOK_ERROR=5" }, { "--content-only", "-q", "-w", "10", "tree" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "rowsift-list: tree/f: Input/output error\n");
	ASSERT_EQ(records_of(r.out).size(), 1u);
	EXPECT_EQ(hash_of(records_of(r.out)[0]), "00000000" + std::string(24, '?'));
}

// With one thread the walk ends before the first file is hashed: "first"
// is hashed before "b/second", and its read swaps directory b for a link
// that leads out of the tree.  Both with openat2 and without it.
TEST(ListRun, NoFileIsReadThroughALinkThatTookADirectorysPlace)
{
	for (const bool with_openat2 : { true, false }) {
		TempDir dir;
		make_file(dir, "tree/first", "first\n", base_time);
		make_file(dir, "tree/b/second", "second\n", base_time);
		make_file(dir, "outside/second", "outside\n", base_time);
		std::vector<std::string> hooks = { "LIST_HOOK_FILE=tree/first",
			"LIST_HOOK_COMMAND=mv tree/b tree/b.away && ln -s ../outside tree/b" };
		if (!with_openat2)
			hooks.push_back("LIST_HOOK_NO_OPENAT2=1");
		RunResult r = run_hooked(dir, hooks, { "--content-only", "-q", "-j", "1", "-w", "10", "tree" });
		ASSERT_TRUE(dir.exists("tree/b.away")) << "the hook did not run";
		EXPECT_EQ(r.status, 1) << with_openat2;
		EXPECT_EQ(r.err, "rowsift-list: tree/b/second: a symbolic link now stands in its path\n");
		std::vector<std::string> records = records_of(r.out);
		ASSERT_EQ(records.size(), 2u) << r.out;
		EXPECT_EQ(hash_of(records[0]), "00000000" + std::string(24, '?')) << with_openat2;
	}
}

TEST(ListRun, OutputReplacesOnlyARegularFileOfItsOwn)
{
	TempDir dir;
	make_file(dir, "tree/a", "a", base_time);
	const std::string refused_by_name[] = { "fifo", "directory", "device" };
	mkfifo(dir.file("fifo").c_str(), 0644);
	mkdir(dir.file("directory").c_str(), 0755);
	bool device = mknod(dir.file("device").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
	for (const std::string &name : refused_by_name) {
		if (name == "device" && !device)
			continue;
		struct stat before;
		lstat(dir.file(name).c_str(), &before);
		RunResult r = run_list(dir, { "--content-only", "-q", "-o", name, "tree" });
		EXPECT_EQ(r.status, 2) << name;
		EXPECT_NE(r.err.find("rowsift-list: " + name + ": "), std::string::npos) << r.err;
		struct stat after;
		lstat(dir.file(name).c_str(), &after);
		EXPECT_EQ(after.st_mode, before.st_mode) << name;
		EXPECT_EQ(after.st_ino, before.st_ino) << name;
	}
	// A link leads to the file replaced, a dangling one to the file made,
	// and stays a link.
	make_file(dir, "real/old.txt", "old", base_time);
	symlink("real/old.txt", dir.file("link").c_str());
	symlink("../real/new.txt", dir.file("tree/dangling").c_str());
	symlink("fifo", dir.file("to-fifo").c_str());
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-o", "link", "tree" }).status, 0);
	ASSERT_EQ(run_list(dir, { "--content-only", "-q", "-o", "tree/dangling", "tree" }).status, 0);
	EXPECT_EQ(run_list(dir, { "--content-only", "-q", "-o", "to-fifo", "tree" }).status, 2);
	EXPECT_EQ(records_of(dir.read("real/old.txt")).size(), 1u);
	EXPECT_EQ(records_of(dir.read("real/new.txt")).size(), 1u);
	char text[64] = "";
	EXPECT_EQ(readlink(dir.file("link").c_str(), text, sizeof text), 12);
	EXPECT_EQ(names_in(dir, "real"), "new.txt\nold.txt\n");

	// A file with another link is refused, both left as they were.
	make_file(dir, "one.txt", "kept", base_time);
	link(dir.file("one.txt").c_str(), dir.file("two.txt").c_str());
	RunResult r = run_list(dir, { "--content-only", "-q", "-o", "one.txt", "tree" });
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: one.txt: has 2 links; a listing replaces only a file with one\n");
	EXPECT_EQ(dir.read("one.txt"), "kept");
	EXPECT_EQ(dir.read("two.txt"), "kept");

	// A name of 250 bytes: its hidden name is cut to fit.
	std::string long_name(250, 'n');
	r = run_list(dir, { "--content-only", "-q", "-o", long_name, "tree" });
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(records_of(dir.read(long_name)).size(), 1u);
	EXPECT_EQ(count_of(names_in(dir), ".nnn"), 0u);
}

// Every way a run can end before its listing is complete removes the
// hidden temporary file, and a failed write is status 2.
TEST(ListRun, FailedOrEndedRunsLeaveNoTemporaryFile)
{
	TempDir dir;
	for (int i = 0; i < 40; i++)
		make_file(dir, format("tree/file%02d", i), "x", base_time);
	RunResult r = run_shell(dir, list_binary + " --content-only -q tree > /dev/full");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: standard output: No space left on device\n");

	// Past the file size limit (of 1024 bytes at most, the listing
	// has more than 8000).
	r = run_shell(dir, "ulimit -f 2 && " + list_binary + " --content-only -q -o list.txt tree");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, "rowsift-list: list.txt: File too large\n");
	EXPECT_EQ(count_of(names_in(dir), "list.txt"), 0u);

	for (const std::string signal : { "USR1", "USR2", "ALRM", "QUIT", "TERM" }) {
		r = run_hooked(dir, { "LIST_HOOK_FILE=tree/file00", "LIST_HOOK_COMMAND=kill -" + signal + " $PPID" },
		    { "--content-only", "-q", "-j", "1", "-o", "list.txt", "tree" });
		EXPECT_GT(r.status, 128) << signal;
		EXPECT_EQ(count_of(names_in(dir), "list.txt"), 0u) << signal;
	}
}

// Closed, stdout and stderr would be the first files opened: the root
// and the listing.  A read that fails writes a message during the run.
TEST(ListRun, MessagesNeverLandInTheListingWhenTheConsoleIsClosed)
{
	TempDir dir;
	make_tree(dir);
	RunResult r = run_shell(dir, "LD_PRELOAD=" LIST_HOOKS_LIBRARY " ASAN_OPTIONS=verify_asan_link_order=0"
	    " LIST_HOOK_FILE=tree/one LIST_HOOK_ERROR=5 " + list_binary + " --content-only -w 40 -e cache -o list.txt tree >&- 2>&-");
	EXPECT_EQ(r.status, 1);
	std::string listing = dir.read("list.txt");
	EXPECT_EQ(listing.find("rowsift-list:"), std::string::npos) << listing;
	EXPECT_EQ(records_of(listing).size(), tree_paths.size());
}

TEST(ListRun, EachDirectoryIsListedOnce)
{
	TempDir dir;
	make_tree(dir);
	symlink("tree", dir.file("link-to-tree").c_str());
	RunResult once = run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "cache", "tree" });
	ASSERT_EQ(once.status, 0);
	for (const std::string &again : { std::string("./tree"), std::string("link-to-tree"), dir.file("tree") }) {
		RunResult r = run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "cache", "tree", again });
		EXPECT_EQ(r.status, 0) << again;
		EXPECT_EQ(r.err, "rowsift-list: " + again + ": the same directory as tree; listed once\n");
		EXPECT_EQ(records_of(r.out), records_of(once.out)) << again;
	}
	// A root inside another, and a directory reached twice.
	RunResult r = run_list(dir, { "--content-only", "-q", "-w", "60", "-e", "cache", "tree", "./tree/docs" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "rowsift-list: ./tree/docs: a directory listed already; passed over\n");
	EXPECT_EQ(records_of(r.out).size(), tree_paths.size());
	if (run_shell(dir, "mkdir tree/again && mount --bind tree/docs tree/again").status != 0)
		return;
	r = run_list(dir, { "--content-only", "-q", "-w", "40", "-e", "cache", "tree" });
	run_shell(dir, "umount tree/again");
	// Whichever of the two the walk meets first is listed.
	std::string first = r.err.find("tree/docs") == std::string::npos ? "docs/" : "again/";
	EXPECT_EQ(r.err, "rowsift-list: tree/" + std::string(first == "docs/" ? "again" : "docs") +
	    ": a directory listed already; passed over\n");
	std::vector<std::string> records = records_of(r.out);
	EXPECT_EQ(records.size(), tree_paths.size());
	EXPECT_EQ(count_of(r.out, " | " + first), 3u) << r.out;
}

// /proc/PID/pagemap says 0 bytes and holds hundreds of GiB.
TEST(ListRun, KernelFileSystemsAreListedOnlyAsARoot)
{
	TempDir dir;
	RunResult r = run_list(dir, { "-q", "-w", "200", "/proc/self" });
	EXPECT_LE(r.status, 1) << r.err;
	EXPECT_GT(records_of(r.out).size(), 10u);

	make_file(dir, "tree/a", "a", base_time);
	mkdir(dir.file("tree/proc").c_str(), 0755);
	if (run_shell(dir, "mount -t proc proc tree/proc").status != 0)
		GTEST_SKIP() << "this user can't mount /proc";
	r = run_list(dir, { "--content-only", "-q", "-w", "200", "tree" });
	run_shell(dir, "umount tree/proc");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(records_of(r.out).size(), 1u);
}
