#include "platform/signals.h"

#include <csignal>
#include <initializer_list>
#include <unistd.h>

static volatile sig_atomic_t received;

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
	sigemptyset(&action.sa_mask);
	for (int signal : { SIGINT, SIGTERM, SIGHUP })
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
