// The usage screens, with and without a terminal to read keys from.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utmp.h>

#include "run_helper.h"

namespace {

const std::string esc = "\x1b", ctrl_c = "\x03", enter = "\r", arrow_up = "\x1b[A";

// A guard against a program that never ends, not a measure of speed.
const auto give_up_after = std::chrono::seconds(20);

// rowsift in a session of its own whose controlling terminal is a fresh
// pseudo-terminal; stdin is /dev/null, so keys can only come from the
// terminal.  stderr and stdout go to pipes, byte for byte.
struct TerminalRun {
	int master = -1, slave = -1;
	int err = -1, out = -1;
	pid_t pid = -1;
	termios before{};
	std::string err_text;
};

void
start(TerminalRun &run, const std::vector<std::string> &args)
{
	ASSERT_EQ(openpty(&run.master, &run.slave, nullptr, nullptr, nullptr), 0);
	ASSERT_EQ(tcgetattr(run.slave, &run.before), 0);
	int err_pipe[2], out_pipe[2];
	ASSERT_EQ(pipe(err_pipe), 0);
	ASSERT_EQ(pipe(out_pipe), 0);
	run.pid = fork();
	if (run.pid == 0) {
		close(run.master);
		if (login_tty(run.slave) != 0)
			_exit(127);
		// Whatever the test runner ignores, the program gets every signal
		// at its default action.
		for (int s = 1; s < NSIG; s++)
			signal(s, SIG_DFL);
		int in = open("/dev/null", O_RDONLY);
		dup2(in, 0);
		dup2(out_pipe[1], 1);
		dup2(err_pipe[1], 2);
		exec_rowsift(args);
	}
	close(err_pipe[1]);
	close(out_pipe[1]);
	run.err = err_pipe[0];
	run.out = out_pipe[0];
}

// Reads stderr until it holds at least size bytes or ends.
void
read_stderr_until(TerminalRun &run, size_t size)
{
	auto deadline = std::chrono::steady_clock::now() + give_up_after;
	while (run.err_text.size() < size && std::chrono::steady_clock::now() < deadline) {
		pollfd watched = { run.err, POLLIN, 0 };
		if (poll(&watched, 1, 100) <= 0)
			continue;
		char buffer[4096];
		ssize_t got = read(run.err, buffer, sizeof buffer);
		if (got <= 0)
			return;
		run.err_text.append(buffer, size_t(got));
	}
}

// Waits until the program has written text and put the terminal in raw
// mode to wait for a key.
void
await_key_wait(TerminalRun &run, const std::string &text)
{
	read_stderr_until(run, text.size());
	ASSERT_EQ(run.err_text, text);
	auto deadline = std::chrono::steady_clock::now() + give_up_after;
	termios now;
	while (tcgetattr(run.slave, &now) == 0 && (now.c_lflag & ICANON)) {
		ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the terminal never went raw";
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	EXPECT_FALSE(now.c_lflag & (ECHO | ISIG));
}

void
press_after(TerminalRun &run, const std::string &text, const std::string &key)
{
	await_key_wait(run, text);
	ASSERT_EQ(write(run.master, key.data(), key.size()), ssize_t(key.size()));
}

void
expect_same_settings(const termios &before, const termios &after)
{
	EXPECT_EQ(before.c_iflag, after.c_iflag);
	EXPECT_EQ(before.c_oflag, after.c_oflag);
	EXPECT_EQ(before.c_cflag, after.c_cflag);
	EXPECT_EQ(before.c_lflag, after.c_lflag);
	for (size_t i = 0; i < NCCS; i++)
		EXPECT_EQ(before.c_cc[i], after.c_cc[i]) << "c_cc[" << i << "]";
}

// Waits for the end, checks what every run must leave: status 1 (or death
// by the signal sent), nothing on stdout, nothing echoed, the terminal as
// it was; returns stderr.
std::string
finish(TerminalRun &run, int signal_sent = 0)
{
	auto deadline = std::chrono::steady_clock::now() + give_up_after;
	int status = 0;
	while (waitpid(run.pid, &status, WNOHANG) == 0) {
		if (std::chrono::steady_clock::now() > deadline) {
			ADD_FAILURE() << "rowsift still waits after the last key";
			kill(run.pid, SIGKILL);
			waitpid(run.pid, &status, 0);
			break;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	if (signal_sent)
		EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_sent) << "status " << status;
	else
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
	run.err_text += read_rest(run.err);
	EXPECT_EQ(read_rest(run.out), "");
	termios after;
	EXPECT_EQ(tcgetattr(run.slave, &after), 0);
	expect_same_settings(run.before, after);
	fcntl(run.master, F_SETFL, O_NONBLOCK);
	EXPECT_EQ(read_rest(run.master), "") << "keys were echoed";
	for (int fd : { run.master, run.slave, run.err, run.out })
		close(fd);
	return run.err_text;
}

std::string
pages_with_prompts(int count)
{
	std::string text;
	for (int page = 1; page <= count; page++)
		text += usage_page(page) + (page <= 3 ? usage_prompt : "");
	return text;
}

TEST(Usage, EscOrCtrlCAtFirstWaitEndsAfterPageOne)
{
	for (const std::string &key : { esc, ctrl_c }) {
		TerminalRun run;
		start(run, {});
		press_after(run, pages_with_prompts(1), key);
		EXPECT_EQ(finish(run), pages_with_prompts(1));
	}
}

TEST(Usage, CtrlCAtThirdWaitEndsAfterPageThree)
{
	TerminalRun run;
	start(run, { "a.txt", "b.txt", "-q" });
	press_after(run, pages_with_prompts(1), enter);
	press_after(run, pages_with_prompts(2), "n");
	press_after(run, pages_with_prompts(3), ctrl_c);
	EXPECT_EQ(finish(run), pages_with_prompts(3));
}

TEST(Usage, AnyOtherKeyAtEachWaitShowsAllPages)
{
	TerminalRun run;
	start(run, { "a.txt" });
	press_after(run, pages_with_prompts(1), enter);
	press_after(run, pages_with_prompts(2), enter);
	press_after(run, pages_with_prompts(3), enter);
	// The fourth wait has no prompt.
	press_after(run, pages_with_prompts(4), enter);
	EXPECT_EQ(finish(run), usage_text());
}

// An arrow key sends Esc and more bytes at once: one key press that goes
// on like any other, and whose other bytes pass no further wait.  With
// Ctrl held it sends parameters too.
TEST(Usage, ArrowKeyIsOneOrdinaryKeyPress)
{
	for (const std::string &key : { arrow_up, std::string("\x1b[1;5A") }) {
		TerminalRun run;
		start(run, {});
		press_after(run, pages_with_prompts(1), key);
		press_after(run, pages_with_prompts(2), esc);
		EXPECT_EQ(finish(run), pages_with_prompts(2));
	}
}

// Keys that arrive together, pasted or typed ahead, go on one page each;
// an escape sequence among them is still one key, and a lone Esc at their
// end still ends the pages.
TEST(Usage, KeysArrivingTogetherAreOneKeyPressEach)
{
	TerminalRun run;
	start(run, {});
	press_after(run, pages_with_prompts(1), enter + enter + enter + enter);
	EXPECT_EQ(finish(run), usage_text());

	TerminalRun second;
	start(second, {});
	press_after(second, pages_with_prompts(1), enter + arrow_up + esc);
	EXPECT_EQ(finish(second), pages_with_prompts(3));
}

// A signal that ends the program during a wait must not leave the
// terminal raw, whichever it is.
TEST(Usage, SignalDuringWaitLeavesTerminalAsItWas)
{
	for (int signal_number : { SIGTERM, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE, SIGRTMIN + 3 }) {
		TerminalRun run;
		start(run, {});
		await_key_wait(run, pages_with_prompts(1));
		kill(run.pid, signal_number);
		EXPECT_EQ(finish(run, signal_number), pages_with_prompts(1)) << strsignal(signal_number);
	}
}

TEST(Usage, WithoutTerminalAllPagesFollowWithoutWaiting)
{
	TempDir dir;
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-z" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, usage_text());
}

// An output option ahead of the bad letter has opened both files; the
// pages still go to stderr and the log keeps its header.
TEST(Usage, OutputFilesOpenedBeforeABadLetterAreKept)
{
	TempDir dir;
	RunResult r = run_rowsift(dir.path, { "a.txt", "b.txt", "-o", "out.txt", "-z" });
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, usage_text());
	EXPECT_EQ(dir.read("out.txt"), "");
	EXPECT_NE(dir.read("out.txt.log"), "");
}

// Alone on the command line, --help and --version answer on stdout with
// status 0; anywhere else a leading "-" still means the usage screens,
// and c and C are option letters now.  --help adds what the pages never
// told, then where the manual is.
TEST(Usage, HelpAndVersionAloneAnswerOnStdout)
{
	TempDir dir;
	RunResult help = run_rowsift(dir.path, { "--help" });
	EXPECT_EQ(help.status, 0);
	EXPECT_EQ(help.err, "");
	EXPECT_EQ(help.out, usage_page(1) + usage_page(2) + usage_page(3) + usage_page(4) +
	    usage_page(5) +
	    "\n\nNot on the pages above:\n"
	    "-c:   report what changed, file by file, instead of the records missing:\n"
	    "      changed, moved, added, removed or touched, sorted by path, then a\n"
	    "      total. The hash and the path are found in each record, so -d, -l\n"
	    "      and -h don't go with it. Exit status 3 when it lists any change,\n"
	    "      0 when it lists none.\n"
	    "-C:   the same as -c: every letter but o and O means the same in capitals.\n"
	    "-w+#: the same as -l.\n\n"
	    "Notes after the total, on stderr and in the log, tell of lines of another\n"
	    "length passed over, of lines of the record length after the end of the\n"
	    "data, of a listing without a \"----- END\" line, which may be cut short,\n"
	    "and, with -c, of a path that one listing holds more than once.\n\n"
	    "rowsift-list walks directory trees and writes the listings rowsift reads:\n"
	    "      rowsift-list /srv/data > monday.txt\n"
	    "      rowsift-list --like monday.txt /srv/data > friday.txt\n"
	    "      rowsift monday.txt friday.txt -c\n"
	    "\n\nThe manual page describes every option, the listing format,"
	    " the files\nwritten and the exit status: man rowsift\n");
	RunResult version = run_rowsift(dir.path, { "--version" });
	EXPECT_EQ(version.status, 0);
	EXPECT_EQ(version.out, "rowsift " ROWSIFT_VERSION "\n");
	for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
	    { "--help", "a.txt", "b.txt" }, { "a.txt", "--version" }, { "-h" }, { "-c" } }) {
		RunResult r = run_rowsift(dir.path, args);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.err, usage_text()) << args[0];
	}
	dir.write("a.txt", hash_listing({ "12345678" }));
	RunResult upper = run_rowsift(dir.path, { "a.txt", "a.txt", "-C" });
	EXPECT_EQ(upper.err.find("CAVEAT"), std::string::npos);
}

}	// namespace
