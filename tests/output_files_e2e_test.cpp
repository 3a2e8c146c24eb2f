// The output file, the log file beside it and the print command.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

	// A log file that can't be opened leaves no output file behind: one
	// in the way, or a name one past the longest a file may have.
	mkdir(dir.file("out.txt.log").c_str(), 0755);
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "./out.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/out.txt.log\n");
	EXPECT_FALSE(dir.exists("out.txt"));
	std::string longest(NAME_MAX - 3, 'n');
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", longest });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/" + longest + ".log\n");
	EXPECT_FALSE(dir.exists(longest));
	// An output file that exists is kept as it was.
	dir.write(longest, "kept\n");
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", longest });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(dir.read(longest), "kept\n");
}

// The output name is opened as the kernel resolves it: ".." after a link
// is the parent of the link's target, as for any other program.  The
// name shown stays the one made of the text.
TEST_F(OutputRun, OutputNameThroughALinkIsOpenedWhereTheKernelFindsIt)
{
	ASSERT_EQ(system(("mkdir -p " + dir.file("real/sub")).c_str()), 0);
	ASSERT_EQ(symlink("real/sub", dir.file("link").c_str()), 0);
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "link/../out.txt" });
	EXPECT_EQ(r.status, 0);
	EXPECT_FALSE(dir.exists("out.txt"));
	EXPECT_FALSE(dir.exists("out.txt.log"));
	EXPECT_NE(dir.read("real/out.txt").find(rec_a), std::string::npos);
	EXPECT_NE(dir.read("real/out.txt.log").find("Input file #1:   a.txt  2 records\n"),
	    std::string::npos);
	mkdir(dir.file("real/out2.txt.log").c_str(), 0755);
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "link/../out2.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/out2.txt.log\n");
	// The print program is handed the file written.
	ASSERT_EQ(mkdir(dir.file("bin").c_str(), 0755), 0);
	dir.write("bin/print", "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$PRINTED\"\n");
	chmod(dir.file("bin/print").c_str(), 0755);
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-O", "link/../printed.txt" },
	    { "PATH=" + dir.file("bin") + ":/usr/bin:/bin", "PRINTED=" + dir.file("printed") });
	EXPECT_EQ(r.status, 0);
	char *real = realpath(dir.file("real").c_str(), nullptr);
	ASSERT_NE(real, nullptr);
	EXPECT_EQ(dir.read("printed"), std::string(real) + "/printed.txt\n");
	free(real);
}

// Nothing is created, and the message says what is missing.
TEST_F(OutputRun, OutputOptionWithoutAFileName)
{
	for (auto args : std::vector<std::vector<std::string>>{ { "a.txt", "b.txt", "-o" },
	    { "a.txt", "b.txt", "-O", "-x" }, { "a.txt", "b.txt", "-xo" } }) {
		RunResult r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out, "");
		char letter = args.back() == "-x" ? 'O' : 'o';
		EXPECT_EQ(r.err, format("\nOption -%c needs the name of an output file after it\n",
		    letter)) << args.back();
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

namespace {

// Runs rowsift in a child of its own after `adjust` has changed what the
// child starts with: stdout and stderr go to files first, as run_rowsift
// sends them.
RunResult
run_adjusted(const TempDir &dir, const std::vector<std::string> &args, void (*adjust)(const TempDir &))
{
	pid_t pid = fork();
	if (pid == 0) {
		int out = open(dir.file(".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		int err = open(dir.file(".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(dir.path.c_str()) != 0)
			_exit(127);
		close(out);
		close(err);
		adjust(dir);
		exec_rowsift(args);
	}
	int status = 0;
	waitpid(pid, &status, 0);
	RunResult r;
	r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	r.out = dir.read(".stdout");
	r.err = dir.read(".stderr");
	return r;
}

} // namespace

// A closed stdout or stderr is taken by no file of the run: the output
// file gets the mismatch lines alone, the log its block alone.
TEST_F(OutputRun, ClosedConsoleLeavesTheOutputFilesAsTheyWouldBe)
{
	std::vector<std::string> args = { "a.txt", "b.txt", "-o", "out.txt" };
	std::string lines = "in file: a.txt |not in file: b.txt |" + rec_a + "\n"
	    "in file: b.txt |not in file: a.txt |" + rec_c + "\n";
	for (auto adjust : { +[](const TempDir &) { close(2); }, +[](const TempDir &) { close(1); },
	    +[](const TempDir &) { close(0); close(1); close(2); } }) {
		unlink(dir.file("out.txt").c_str());
		unlink(dir.file("out.txt.log").c_str());
		RunResult r = run_adjusted(dir, args, adjust);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(dir.read("out.txt"), lines);
		EXPECT_EQ(without_time_lines(dir.read("out.txt.log")), log_block(args));
	}
}

// Runs started at once on one output file, each with thousands of lines
// to append: every line in it whole, every log block in one piece.
TEST_F(OutputRun, RunsAppendingAtOnceInterleaveWholeLines)
{
	const int runs = 4, records = 40000;
	std::vector<std::string> first, second;
	for (int i = 0; i < records; i++) {
		first.push_back(format("%8d", i) + rec_a.substr(8));
		second.push_back(format("%8d", i) + rec_c.substr(8));
	}
	dir.write("a.txt", hash_listing(first));
	dir.write("b.txt", hash_listing(second));
	std::vector<std::string> args = { "a.txt", "b.txt", "-o", "same.txt" };
	std::vector<pid_t> children;
	for (int i = 0; i < runs; i++) {
		pid_t pid = fork();
		if (pid == 0) {
			int null = open("/dev/null", O_RDWR);
			dup2(null, 1);
			dup2(null, 2);
			if (chdir(dir.path.c_str()) != 0)
				_exit(127);
			exec_rowsift(args);
		}
		children.push_back(pid);
	}
	for (pid_t pid : children) {
		int status = 0;
		waitpid(pid, &status, 0);
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
	}
	std::string text = dir.read("same.txt");
	const std::string head1 = "in file: a.txt |not in file: b.txt |";
	const std::string head2 = "in file: b.txt |not in file: a.txt |";
	size_t lines = 0, torn = 0;
	for (size_t at = 0; at < text.size(); lines++) {
		size_t end = text.find('\n', at);
		std::string line = text.substr(at, end - at);
		bool whole = line.size() == head1.size() + rec_a.size() &&
		    (line.compare(0, head1.size(), head1) == 0 || line.compare(0, head2.size(), head2) == 0);
		torn += !whole;
		at = end == std::string::npos ? text.size() : end + 1;
	}
	EXPECT_EQ(torn, 0u);
	EXPECT_EQ(lines, size_t(runs * 2 * records));
	// Each run's header goes out when its option is read, the rest of its
	// block when it ends: each in one piece.
	std::string head = without_time_lines(header({ ROWSIFT_BINARY, "a.txt", "b.txt", "-o", "same.txt" }));
	std::string rest = format("Input file #1:   a.txt  %d records\nInput file #2:   b.txt  %d records\n\n"
	    " *****  Comparing records in 1 not in 2\n\n   Found %d mismatches\n"
	    " *****  Comparing records in 2 not in 1\n\n   Found %d mismatches\n",
	    records, records, records, records) + closing;
	std::string log = without_time_lines(dir.read("same.txt.log"));
	EXPECT_EQ(count_of(log, head), size_t(runs)) << log;
	EXPECT_EQ(count_of(log, rest), size_t(runs)) << log;
	EXPECT_EQ(log.size(), runs * (head.size() + rest.size())) << log;
}

// An output or log file that is one of the listings, a FIFO or a socket is
// refused before anything is written to it; a character device is not.
TEST_F(OutputRun, OutputFileThatIsAListingAFifoOrASocketIsRefused)
{
	std::string listing = dir.read("a.txt");
	ASSERT_EQ(link(dir.file("a.txt").c_str(), dir.file("linked.txt").c_str()), 0);
	ASSERT_EQ(symlink("b.txt", dir.file("pointer.txt").c_str()), 0);
	ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
	int s = socket(AF_UNIX, SOCK_STREAM, 0);
	sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	dir.file("socket").copy(address.sun_path, sizeof address.sun_path - 1);
	ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
	for (std::string name : { "a.txt", "./b.txt", "linked.txt", "pointer.txt", "fifo", "socket" }) {
		RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", name });
		EXPECT_EQ(r.status, 1) << name;
		EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/" + name.substr(name[0] == '.' ? 2 : 0) +
		    "\n");
		EXPECT_EQ(r.out, "");
		EXPECT_FALSE(dir.exists(name + ".log"));
	}
	close(s);
	EXPECT_EQ(dir.read("a.txt"), listing);

	// The log file as the second listing: the output file stays empty.
	dir.write("out.txt.log", listing);
	RunResult r = run_rowsift(dir.path, { "a.txt", "out.txt.log", "-o", "out.txt" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + dir.path + "/out.txt.log\n");
	EXPECT_EQ(dir.read("out.txt.log"), listing);
	EXPECT_FALSE(dir.exists("out.txt"));

	ASSERT_EQ(symlink("/dev/null", dir.file("null").c_str()), 0);
	r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "null" });
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(dir.read("null.log"), "");
}

// A current directory that is gone leaves no full name for the output
// file: the run ends before writing anything anywhere.
TEST_F(OutputRun, OutputFileInADirectoryThatIsGone)
{
	std::string name = format("rowsift-gone-%d.txt", int(getpid()));
	ASSERT_FALSE(access(("/" + name).c_str(), F_OK) == 0) << "/" << name << " is there already";
	RunResult r = run_adjusted(dir, { dir.file("a.txt"), dir.file("b.txt"), "-o", name },
	    [](const TempDir &d) {
		    if (mkdir(d.file("gone").c_str(), 0755) != 0 || chdir(d.file("gone").c_str()) != 0 ||
			rmdir(d.file("gone").c_str()) != 0)
			    _exit(127);
	    });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "\nCan't open output file " + name + "\n");
	EXPECT_EQ(r.out, "");
	bool written = access(("/" + name).c_str(), F_OK) == 0;
	EXPECT_FALSE(written);
	if (written) {
		unlink(("/" + name).c_str());
		unlink(("/" + name + ".log").c_str());
	}
}

// A current directory longer than a path may be still takes the output
// files: they are opened from it, not by their full names.
TEST_F(OutputRun, OutputFileInADirectoryTooLongToName)
{
	RunResult r = run_adjusted(dir, { dir.file("a.txt"), dir.file("b.txt"), "-o", "out.txt" },
	    [](const TempDir &) {
		    std::string step(200, 'd');
		    for (int depth = 0; depth < PATH_MAX / 200 + 1; depth++)
			    if (mkdir(step.c_str(), 0755) != 0 || chdir(step.c_str()) != 0)
				    _exit(127);
	    });
	EXPECT_EQ(r.status, 0) << r.err;
	std::string found;
	FILE *find = popen(("find '" + dir.path + "' -name out.txt -execdir cat {} ';'").c_str(), "r");
	ASSERT_NE(find, nullptr);
	found = read_rest(fileno(find));
	pclose(find);
	EXPECT_NE(found.find(rec_a), std::string::npos) << found;
}
