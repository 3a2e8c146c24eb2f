// Runs the built program in a temporary directory and captures every byte
// it writes.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct RunResult {
	std::string out;
	std::string err;
	int status = -1;
};

// A fresh temporary directory, removed with its contents on destruction.
struct TempDir {
	std::string path;
	TempDir();
	~TempDir();
	std::string file(const std::string &name) const { return path + "/" + name; }
	void write(const std::string &name, const std::string &bytes) const;
	std::string read(const std::string &name) const;
	bool exists(const std::string &name) const;
};

// Runs rowsift with args in dir, in a session of its own without a
// controlling terminal, stdin from /dev/null, extra environment entries
// (NAME=value) added.
RunResult run_rowsift(const std::string &dir, const std::vector<std::string> &args,
    const std::vector<std::string> &env = {});

// As run_rowsift, with the program's address space limited to the given
// number of bytes, so that its large allocations fail.
RunResult run_rowsift_limited(const std::string &dir, const std::vector<std::string> &args,
    unsigned long address_space);

// As run_rowsift, with stderr going where stdout goes: out receives both
// in the order they were written.
RunResult run_rowsift_merged(const std::string &dir, const std::vector<std::string> &args);

// A run whose stderr goes into a pipe of one page that is read only when
// the test asks, so that the run stalls at a known point of its progress
// text; stdout goes to a file.
struct HeldRun {
	pid_t pid = -1;
	int err = -1;
	std::string err_text;	// read so far
	std::string out_path;
};
HeldRun start_held_run(const std::string &dir, const std::vector<std::string> &args);

// Reads the run's stderr until it holds `text` (or ends).
void read_until(HeldRun &run, const std::string &text);

// Waits until the held run has taken `signal` and gone back to waiting on
// its stderr: the signal's handler has run to its end.  Signals pending
// together are handled last one first, so a test that needs an order
// sends the next one only then.
void wait_until_handled(const HeldRun &run, int signal);

// Reads the rest of the run's stderr and waits for its end.
RunResult finish_held_run(HeldRun &run);

// As run_rowsift, with stdout going to fd (out stays empty).
RunResult run_rowsift_with_stdout(const std::string &dir, const std::vector<std::string> &args,
    int fd);
// As run_rowsift, for any program, as the given user when uid is not 0
// (which needs a test run as root).
RunResult run_program(const std::string &dir, const std::string &binary,
    const std::vector<std::string> &args, uid_t uid = 0);

// Everything left to read on fd, up to its end.
std::string read_rest(int fd);

// Runs the program in this process with the given arguments; for a
// forked child.
[[noreturn]] void exec_rowsift(const std::vector<std::string> &args);

// A listing in CR LF lines: a title, "----- BEGIN", a "  PATH  " column
// line, the records and "----- END".
std::string hash_listing(const std::vector<std::string> &records, const std::string &eol = "\r\n");

// The stderr text of erasing an n-character progress message.
std::string erased(size_t n);

// A progress message followed by its erasure.
std::string transient(const std::string &message);

// What stderr receives while both files are counted and the record
// tables for `capacity` lines each are had.
std::string counting_stderr(long capacity);

// The two lines that report a record of `in` missing from `not_in`.
std::string found(const std::string &in, const std::string &not_in, const std::string &record);

// A pass as the console shows it with stdout and stderr merged: a
// progress counter every `step` records of the sorted listing, each
// record marked missing in its place among them, then the full count.
// `counter` carries the length of the counter shown last from one pass
// into the next.  With nothing marked, what stderr alone receives.
std::string pass_text(const std::vector<std::string> &sorted, const std::vector<bool> &missing,
    size_t step, const std::string &in, const std::string &not_in, size_t &counter);

// What a successful run writes to stderr, step by step.
struct ExpectedRun {
	std::string name1, name2;
	long size1 = 0, size2 = 0;
	long capacity = 0;		// the larger line count + 1
	long count1 = 0, count2 = 0;
	bool first_pass = true, second_pass = true;
};
std::string expected_stderr(const ExpectedRun &run);

// How many times part occurs in text, overlapping occurrences included.
size_t count_of(const std::string &text, const std::string &part);

// printf into a std::string.
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The usage pages 1 to 5, each as written before its wait, and the prompt
// that follows pages 1 to 3.
std::string usage_page(int number);
extern const std::string usage_prompt;

// What the usage screens write when no key ends them early.
std::string usage_text();
