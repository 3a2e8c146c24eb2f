#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <unistd.h>

#include "list/list.h"

static std::mutex stderr_lock;
static size_t progress_length;	// of the progress line now shown; 0: none

// The temporary listing, removed when the run fails or is interrupted.
// A plain array, so that a signal handler can read it.
static char cleanup_path[4096];

std::unique_lock<std::mutex>
lock_stderr()
{
	std::unique_lock<std::mutex> held(stderr_lock);
	if (progress_length) {
		fputs("\r\033[K", stderr);
		progress_length = 0;
	}
	return held;
}

void
note_progress_line(size_t length)
{
	progress_length = length;
}

// Control bytes in a name would act on the terminal, so they are shown as
// they are in the listing.
std::string
escaped_name(const std::string &path)
{
	std::string shown;
	append_escaped(shown, path.data(), path.size());
	return shown;
}

void
report_path_note(const std::string &path, const std::string &text)
{
	auto held = lock_stderr();
	fprintf(stderr, "rowsift-list: %s: %s\n", escaped_name(path).c_str(), text.c_str());
}

void
report_path_problem(const std::string &path, const std::string &reason)
{
	report_path_note(path, reason);
	int expected = 0;
	exit_status.compare_exchange_strong(expected, 1);
}

void
report_path_error(const std::string &path, int error)
{
	report_path_problem(path, strerror(error));
}

static void
write_message(const char *fmt, va_list args)
{
	auto held = lock_stderr();
	fputs("rowsift-list: ", stderr);
	vfprintf(stderr, fmt, args);
	fputc('\n', stderr);
}

void
report(const char *fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	write_message(fmt, args);
	va_end(args);
}

static void
remove_temporary()
{
	if (cleanup_path[0])
		unlink(cleanup_path);
}

// Other threads may still be hashing, so the process ends without running
// destructors under them.
void
fail(const char *fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	write_message(fmt, args);
	va_end(args);
	remove_temporary();
	fflush(stderr);
	_exit(2);
}

void
fail_usage(const char *fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	write_message(fmt, args);
	va_end(args);
	fputs("Try 'rowsift-list --help' for more information.\n", stderr);
	remove_temporary();
	_exit(2);
}

static void
remove_and_reraise(int signal_number)
{
	remove_temporary();
	::signal(signal_number, SIG_DFL);
	raise(signal_number);
}

// Every signal whose default ends the process, except those the caller
// set to be ignored.
static void
remove_temporary_on_signals()
{
	static const int ending[] = {
		SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1,
		SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGVTALRM,
		SIGPROF, SIGIO, SIGPWR, SIGSYS,
	};
	std::vector<int> signals(std::begin(ending), std::end(ending));
	for (int n = SIGRTMIN; n <= SIGRTMAX; n++)
		signals.push_back(n);
	for (int signal_number : signals) {
		struct sigaction old;
		if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
			::signal(signal_number, remove_and_reraise);
	}
}

void
set_cleanup_path(const std::string &path)
{
	if (path.size() >= sizeof cleanup_path)
		fail("%s: name too long", path.c_str());
	memcpy(cleanup_path, path.c_str(), path.size() + 1);
	if (!path.empty())
		remove_temporary_on_signals();
}
