#include "platform/signals.h"

#include <csignal>
#include <initializer_list>
#include <unistd.h>

static volatile sig_atomic_t received;
static const int stop_signals[] = { SIGINT, SIGTERM, SIGHUP };

static void
note_stop(int signal)
{
	if (!received)
		received = signal;
}

void
watch_stop_signals()
{
	struct sigaction action = {};
	action.sa_handler = note_stop;
	action.sa_flags = SA_RESTART;
	// Two stop signals pending at once would otherwise run their handlers
	// nested, the one the kernel took last running first: the signal the
	// run ends by must be the one taken first.
	sigemptyset(&action.sa_mask);
	for (int signal : stop_signals)
		sigaddset(&action.sa_mask, signal);
	for (int signal : stop_signals)
		sigaction(signal, &action, nullptr);
	::signal(SIGPIPE, SIG_IGN);
	::signal(SIGXFSZ, SIG_IGN);
}

int
stop_signal()
{
	return received;
}

void
end_by_signal(int signal)
{
	::signal(signal, SIG_DFL);
	sigset_t set;
	sigemptyset(&set);
	sigaddset(&set, signal);
	sigprocmask(SIG_UNBLOCK, &set, nullptr);
	raise(signal);
	_exit(128 + signal);
}

void
ignore_file_size_limit()
{
	::signal(SIGXFSZ, SIG_IGN);
}

std::vector<int>
signals_ending_by_default()
{
	std::vector<int> signals = {
		SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1,
		SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ,
		SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS,
	};
	for (int n = SIGRTMIN; n <= SIGRTMAX; n++)
		signals.push_back(n);
	return signals;
}
