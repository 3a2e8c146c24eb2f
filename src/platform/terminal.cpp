#include "platform/terminal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

// How long the rest of an escape sequence may lag behind its Esc; a slow
// remote link splits one key's bytes, a person can't type that fast.
static const int sequence_gap_ms = 50;

// The signals that would end the process while the terminal is raw.  They
// are held back until its settings are restored, then take effect.
static sigset_t
ending_signals()
{
	sigset_t set;
	sigemptyset(&set);
	sigaddset(&set, SIGHUP);
	sigaddset(&set, SIGINT);
	sigaddset(&set, SIGQUIT);
	sigaddset(&set, SIGTERM);
	return set;
}

// Waits until the terminal or the held signals have something; false
// when a signal came first or the wait failed.
static bool
wait_readable(int tty, int signals, int timeout_ms)
{
	pollfd watched[2] = { { tty, POLLIN, 0 }, { signals, POLLIN, 0 } };
	int ready;
	while ((ready = poll(watched, signals < 0 ? 1 : 2, timeout_ms)) < 0 && errno == EINTR)
		;
	return ready > 0 && (watched[0].revents & POLLIN) && !watched[1].revents;
}

static ssize_t
read_available(int tty, char *buffer, size_t size)
{
	ssize_t got;
	while ((got = read(tty, buffer, size)) < 0 && errno == EINTR)
		;
	return got;
}

// True when more bytes follow at once: the Esc began an escape sequence,
// which is then read to its end.
static bool
drain_sequence(int tty, int signals)
{
	char rest[64];
	bool sequence = false;
	while (wait_readable(tty, signals, sequence_gap_ms) &&
	    read_available(tty, rest, sizeof rest) > 0)
		sequence = true;
	return sequence;
}

// One read takes every byte a key sent at once, so that a key sending
// several bytes is one key press.
static int
wait_for_key(int tty, int signals)
{
	char bytes[64];
	if (!wait_readable(tty, signals, -1))
		return other_key;
	ssize_t got = read_available(tty, bytes, sizeof bytes);
	if (got <= 0)
		return other_key;
	unsigned char first = static_cast<unsigned char>(bytes[0]);
	if (first == 27 && (got > 1 || drain_sequence(tty, signals)))
		return other_key;
	return first;
}

static int
read_raw_key(int tty)
{
	termios saved;
	if (tcgetattr(tty, &saved) != 0)
		return other_key;
	sigset_t held = ending_signals(), previous;
	sigprocmask(SIG_BLOCK, &held, &previous);
	int signals = signalfd(-1, &held, SFD_CLOEXEC);

	termios raw = saved;
	// ISIG off lets Ctrl-C arrive as the byte 3; ICRNL and IXON off let
	// Return, Ctrl-S and Ctrl-Q arrive as they are.
	raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
	raw.c_iflag &= ~(ICRNL | IXON);
	raw.c_cc[VMIN] = 1;
	raw.c_cc[VTIME] = 0;
	int key = other_key;
	// TCSANOW keeps a key typed before the wait began.
	if (tcsetattr(tty, TCSANOW, &raw) == 0) {
		key = wait_for_key(tty, signals);
		tcsetattr(tty, TCSANOW, &saved);
	}
	if (signals >= 0)
		close(signals);
	sigprocmask(SIG_SETMASK, &previous, nullptr);
	return key;
}

int
read_key()
{
	int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (tty < 0)
		return other_key;
	int key = read_raw_key(tty);
	close(tty);
	return key;
}
