#include "run_helper.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <grp.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

TempDir::TempDir()
{
	char tmpl[] = "/tmp/rowsift-test-XXXXXX";
	if (!mkdtemp(tmpl))
		throw std::runtime_error("mkdtemp failed");
	path = tmpl;
}

TempDir::~TempDir()
{
	std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
	if (system(command.c_str()) != 0)
		fprintf(stderr, "could not remove %s\n", path.c_str());
}

void
TempDir::write(const std::string &name, const std::string &bytes) const
{
	std::ofstream(file(name), std::ios::binary) << bytes;
}

std::string
TempDir::read(const std::string &name) const
{
	std::ifstream in(file(name), std::ios::binary);
	std::ostringstream text;
	text << in.rdbuf();
	return text.str();
}

bool
TempDir::exists(const std::string &name) const
{
	struct stat st;
	return stat(file(name).c_str(), &st) == 0;
}

std::string
read_rest(int fd)
{
	std::string text;
	char buffer[65536];
	ssize_t got;
	while ((got = read(fd, buffer, sizeof buffer)) > 0)
		text.append(buffer, size_t(got));
	return text;
}

static std::string
drain(int fd)
{
	std::string text = read_rest(fd);
	close(fd);
	return text;
}

// A guard against a program that never ends, not a measure of speed: a
// run still going after this long is ended by SIGALRM.
static const unsigned give_up_seconds = 300;
// How a child is set up beyond the defaults.
struct ChildSetup {
	const char *binary = ROWSIFT_BINARY;
	uid_t uid = 0;		// 0: as the test runs
	int stdout_fd = -1;	// -1: a file, read into the result
};

[[noreturn]] static void
exec_program(const char *binary, const std::vector<std::string> &args)
{
	std::vector<char *> argv;
	argv.push_back(const_cast<char *>(binary));
	for (const std::string &arg : args)
		argv.push_back(const_cast<char *>(arg.c_str()));
	argv.push_back(nullptr);
	execv(binary, argv.data());
	_exit(127);
}

static RunResult
run_in(const std::string &dir, const std::vector<std::string> &args,
    const std::vector<std::string> &env, unsigned long address_space, bool merged = false,
    const ChildSetup &setup = ChildSetup())
{
	// Both outputs go to files, so neither pipe can fill up and stall.
	std::string out_path = dir + "/.stdout", err_path = dir + "/.stderr";
	pid_t pid = fork();
	if (pid == 0) {
		// A new session has no controlling terminal, so the usage screens
		// never wait for a key, even when the tests run in a terminal.
		setsid();
		int in = open("/dev/null", O_RDONLY);
		int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		dup2(in, 0);
		dup2(setup.stdout_fd >= 0 ? setup.stdout_fd : out, 1);
		dup2(merged ? out : err, 2);
		if (chdir(dir.c_str()) != 0)
			_exit(127);
		for (const std::string &entry : env)
			putenv(strdup(entry.c_str()));
		struct rlimit limit = { address_space, address_space };
		if (address_space && setrlimit(RLIMIT_AS, &limit) != 0)
			_exit(127);
		if (setup.uid && (setgroups(0, nullptr) != 0 || setgid(setup.uid) != 0 ||
		    setuid(setup.uid) != 0))
			_exit(127);
		alarm(give_up_seconds);
		exec_program(setup.binary, args);
	}
	RunResult result;
	int status = 0;
	waitpid(pid, &status, 0);
	result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	result.out = drain(open(out_path.c_str(), O_RDONLY));
	result.err = drain(open(err_path.c_str(), O_RDONLY));
	unlink(out_path.c_str());
	unlink(err_path.c_str());
	return result;
}

RunResult
run_rowsift(const std::string &dir, const std::vector<std::string> &args,
    const std::vector<std::string> &env)
{
	return run_in(dir, args, env, 0);
}

RunResult
run_rowsift_with_stdout(const std::string &dir, const std::vector<std::string> &args, int fd)
{
	ChildSetup setup;
	setup.stdout_fd = fd;
	return run_in(dir, args, {}, 0, false, setup);
}

RunResult
run_rowsift_merged(const std::string &dir, const std::vector<std::string> &args)
{
	return run_in(dir, args, {}, 0, true);
}

void
exec_rowsift(const std::vector<std::string> &args)
{
	exec_program(ROWSIFT_BINARY, args);
}

RunResult
run_program(const std::string &dir, const std::string &binary,
    const std::vector<std::string> &args, uid_t uid)
{
	ChildSetup setup;
	setup.binary = binary.c_str();
	setup.uid = uid;
	return run_in(dir, args, {}, 0, false, setup);
}

HeldRun
start_held_run(const std::string &dir, const std::vector<std::string> &args)
{
	HeldRun run;
	run.out_path = dir + "/.stdout";
	int err[2];
	if (pipe(err) != 0)
		return run;
	fcntl(err[0], F_SETPIPE_SZ, 4096);
	run.pid = fork();
	if (run.pid == 0) {
		setsid();
		int in = open("/dev/null", O_RDONLY);
		int out = open(run.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		dup2(in, 0);
		dup2(out, 1);
		dup2(err[1], 2);
		close(err[0]);
		if (chdir(dir.c_str()) != 0)
			_exit(127);
		exec_rowsift(args);
	}
	close(err[1]);
	run.err = err[0];
	return run;
}

void
read_until(HeldRun &run, const std::string &text)
{
	char buffer[256];
	ssize_t got;
	while (run.err_text.find(text) == std::string::npos &&
	    (got = read(run.err, buffer, sizeof buffer)) > 0)
		run.err_text.append(buffer, size_t(got));
}

// A line of /proc/<pid>/status such as "State:", without its name; empty
// once the process is gone.
static std::string
status_field(pid_t pid, const std::string &name)
{
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind(name, 0) == 0)
			return line.substr(name.size());
	return "";
}

void
wait_until_handled(const HeldRun &run, int signal)
{
	// Taken off the pending set first; asleep again only after the
	// handler has returned and the write was started again.
	for (;;) {
		std::string pending = status_field(run.pid, "ShdPnd:");
		if (pending.empty() || !(std::stoull(pending, nullptr, 16) >> (signal - 1) & 1))
			break;
		sched_yield();
	}
	for (;;) {
		std::string state = status_field(run.pid, "State:");
		if (state.empty() || state[state.find_first_not_of(" \t")] == 'S')
			break;
		sched_yield();
	}
}

RunResult
finish_held_run(HeldRun &run)
{
	RunResult result;
	result.err = run.err_text + drain(run.err);
	int status = 0;
	waitpid(run.pid, &status, 0);
	result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	result.out = drain(open(run.out_path.c_str(), O_RDONLY));
	unlink(run.out_path.c_str());
	return result;
}

RunResult
run_rowsift_limited(const std::string &dir, const std::vector<std::string> &args,
    unsigned long address_space)
{
	return run_in(dir, args, {}, address_space);
}

std::string
hash_listing(const std::vector<std::string> &records, const std::string &eol)
{
	std::string text = "sumlist hash listing" + eol + "----- BEGIN" + eol +
	    "  SIZE  |   DATE   | HASH  |  PATH  " + eol;
	for (const std::string &record : records)
		text += record + eol;
	return text + "----- END" + eol;
}

std::string
erased(size_t n)
{
	return std::string(n, '\b') + std::string(n, ' ') + std::string(n, '\b');
}

std::string
format(const char *fmt, ...)
{
	char buffer[8192];
	va_list args;
	va_start(args, fmt);
	int n = vsnprintf(buffer, sizeof buffer, fmt, args);
	va_end(args);
	return std::string(buffer, size_t(n));
}

std::string
transient(const std::string &message)
{
	return message + erased(message.size());
}

std::string
counting_stderr(long capacity)
{
	return std::string("\n") + transient("Getting number of records in each file. This may take some time.\n") +
	    transient(format(" Getting memory to store %ld lines", capacity));
}

std::string
found(const std::string &in, const std::string &not_in, const std::string &record)
{
	return "\nFound the following entry in " + in + " not in " + not_in + "\n" + record + "\n";
}

std::string
pass_text(const std::vector<std::string> &sorted, const std::vector<bool> &missing,
    size_t step, const std::string &in, const std::string &not_in, size_t &counter)
{
	std::string text;
	auto progress = [&](size_t n) {
		text += std::string(counter, '\b');
		std::string shown = format("Processed %6zu", n);
		counter = shown.size();
		text += shown;
	};
	for (size_t i = 0; i < sorted.size(); i++) {
		if (i % step == 0)
			progress(i);
		if (missing[i])
			text += found(in, not_in, sorted[i]);
	}
	progress(sorted.size());
	return text;
}

// A pass over `count` records none of which is missing, as stderr shows
// it.
static std::string
pass_progress(long count, size_t step, size_t &counter)
{
	return pass_text(std::vector<std::string>(size_t(count)), std::vector<bool>(size_t(count)),
	    step, "", "", counter);
}

std::string
expected_stderr(const ExpectedRun &run)
{
	std::string text = counting_stderr(run.capacity);
	text += format("\nOpened %s\n", run.name1.c_str());
	text += transient(format(" Getting memory of %ld to process %s", run.size1, run.name1.c_str()));
	text += format("\nOpened %s\n", run.name2.c_str());
	text += transient(format(" Getting memory of %ld to process %s", run.size2, run.name2.c_str()));
	text += transient(format("Reading %ld bytes from %s into memory", run.size1, run.name1.c_str()));
	text += transient("Processing " + run.name1);
	text += transient("Sorting records");
	text += transient(format("Reading %ld bytes from %s into memory", run.size2, run.name2.c_str()));
	text += transient("Processing " + run.name2);
	text += transient("Sorting records");
	size_t counter = 0;
	size_t step = run.count2 <= 10 ? 2 : size_t(run.count2) / 10;
	if (run.first_pass) {
		text += "\n" + pass_progress(run.count1, step, counter);
		text += "\n   Compare file records in 1 not in 2";
	}
	if (run.second_pass) {
		text += "\n" + pass_progress(run.count2, 500, counter);
		text += "   Compare file records in 2 not in 1";
	}
	return text + "\n**********************************\n\n";
}

const std::string usage_prompt = std::string(29, ' ') + "Hit return to continue";

std::string
usage_page(int number)
{
	static const char *const pages[] = {
		"\n\n"
		"CAVEAT: IT IS BEST TO RUN ROWSIFT ON A PIPE \"|\" DELIMETED FILE\n\n"
		"Rowsift compares two sumlist.exe outputs and lists those records that are\n"
		"found in one file and not the other. Default compares the ENTIRE hash record.\n"
		"Meaning the hash, path, filename, and any other data in the row are used.\n\n"
		"In order for the program to work correctly, the computer must have enough\n"
		"free memory (RAM) to store both files in memory while processing.\n"
		"Currently, there is a max of 7990000 files(records) per input file.\n"
		"For NT and 9X this is usually not a problem. As swap space is available\n\n",

		"\nAssuming each input file has \"records\" or \"lines\" for each file processed\n\n"
		"The input file should have a header line  \"----- BEGIN\" just before\n"
		"the start of the data, and a trailer line \"----- END\" after the last data line\n"
		"This is an indication to the program where to start and stop the processing\n"
		"The 5 dashes \"-----\" of the header and trailer MUST begin the line\n"
		"If the files are pure data, without headers, then the -X option should be used\n\n"
		"As a side benefit: If two files have the same record format\n"
		"rowsift can be used to compare any 2 files on the hash field.\n"
		"If the hash is the first field, it is even easier\n\n",

		"\n\n\nCommand line is:   rowsift  infile1 infile2 -options[12hix [-d # -l #]]\n"
		"-1:   Only show occurance from file 1 and not file 2\n"
		"-2:   Only show occurance from file 2 and not file 1\n"
		"      default is show differences from both files.\n"
		"-i:   ignore case of records.\n"
		"-x:   input files DO NOT have the ----- BEGIN and ----- END triggers.\n"
		"      files are clean data files without HEADERS or TRAILERS.\n"
		"-[oO]+outputfile: Filename of an output file (log) to place mismatch info. to.\n"
		"      -O (uppercase) also sends output file to the default printer.\n"
		"      formatted 75 characters per line.\n\n",

		"\n\n"
		"-d+#: #==start compare at this character from start of record.\n"
		"      use this when the drive letter is only suspected differance. \"-d 2\"\n"
		"-l+#: restrict compare field length to this many characters. \n"
		"      default is to compare entire record, which includes date/time/size etc.\n"
		"      compare field either starts at 1, or value input using -d option.\n"
		"-h:   the program calcuates the beginning and end of the hash field\n"
		"      and compares only hash values, regardless of filenames, dates etc.\n"
		"      this is useful if filenames have changed.\n"
		"NOTE: this -h option will not work if delimeters other than | are used\n"
		"Processing starts at lines containing \"----- BEGIN \" and ends at \"----- END \" \n\n",

		"\n\n"
		"BEST record format: If not using headers ----- BEGIN \n\n"
		"MD5hash values as first field    | Path\\filename-fixed length record\n\n"
		"1234567890ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n"
		"0123456789ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n"
		"2345678901ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n",
	};
	return pages[number - 1];
}

std::string
usage_text()
{
	return usage_page(1) + usage_prompt + usage_page(2) + usage_prompt +
	    usage_page(3) + usage_prompt + usage_page(4) + usage_page(5);
}

size_t
count_of(const std::string &text, const std::string &part)
{
	size_t n = 0;
	for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
		n++;
	return n;
}
