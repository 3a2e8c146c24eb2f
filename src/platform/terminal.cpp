#include "platform/terminal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include "platform/signals.h"

// How long the rest of an escape sequence may lag behind its Esc; a slow
// remote link splits one key's bytes, a person can't type that fast.
static const int sequence_gap_ms = 50;

static bool
takes_default_action(int signal_number)
{
	struct sigaction current;
	return sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL;
}

// The signals that would end the process while the terminal is raw.  They
// are held back until its settings are restored, then take their default
// action.  A signal ignored or handled is left alone: held back, it would
// end the wait like a key.
static sigset_t
ending_signals()
{
	sigset_t set;
	sigemptyset(&set);
	for (int s : signals_ending_by_default())
		if (takes_default_action(s))
			sigaddset(&set, s);
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

// The next byte, when it comes within timeout_ms (-1: however long it
// takes); -1 when none came.
static int
read_byte(int tty, int signals, int timeout_ms)
{
	char byte;
	if (!wait_readable(tty, signals, timeout_ms) || read_available(tty, &byte, 1) != 1)
		return -1;
	return static_cast<unsigned char>(byte);
}

// Reads the rest of an escape sequence: Esc [ with parameters up to a
// final byte (arrows, function keys), Esc O and a letter, or Esc and one
// character (Alt with a key).  False when nothing follows the Esc at once:
// it was the Esc key.
static bool
read_sequence_rest(int tty, int signals)
{
	int c = read_byte(tty, signals, sequence_gap_ms);
	if (c < 0)
		return false;
	if (c == 'O')
		read_byte(tty, signals, sequence_gap_ms);
	else if (c == '[')
		while ((c = read_byte(tty, signals, sequence_gap_ms)) >= 0x20 && c < 0x40)
			;
	return true;
}

// The bytes that follow the first byte of a UTF-8 character.
static int
continuation_bytes(int first)
{
	if ((first & 0xe0) == 0xc0)
		return 1;
	if ((first & 0xf0) == 0xe0)
		return 2;
	if ((first & 0xf8) == 0xf0)
		return 3;
	return 0;
}

// Reads one key press, every byte it sent and no more: keys that arrive
// together (pasted, typed ahead) are left for the waits that follow, one
// key each.
static int
wait_for_key(int tty, int signals)
{
	int first = read_byte(tty, signals, -1);
	if (first < 0)
		return other_key;
	if (first == 27)
		return read_sequence_rest(tty, signals) ? other_key : 27;
	for (int n = continuation_bytes(first); n > 0; n--)
		read_byte(tty, signals, sequence_gap_ms);
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

bool
is_terminal(int fd)
{
	return isatty(fd) == 1;
}
