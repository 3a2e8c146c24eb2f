#include "platform/replacing.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/signals.h"

// A plain array, so that a signal handler can read it.
static char removal_path[4096];

int
create_hidden_file(const std::string &pattern, std::string *name)
{
	std::vector<char> writable(pattern.begin(), pattern.end());
	writable.push_back('\0');
	int fd = mkstemp(writable.data());
	if (fd < 0)
		return -1;
	*name = writable.data();
	// mkstemp makes the file for its owner alone.
	mode_t mask = umask(0);
	umask(mask);
	fchmod(fd, 0666 & ~mask);
	return fd;
}

void
remove_hidden_file()
{
	if (removal_path[0])
		unlink(removal_path);
}

static void
remove_and_reraise(int signal_number)
{
	remove_hidden_file();
	::signal(signal_number, SIG_DFL);
	raise(signal_number);
}

// Every signal whose default ends the process, except those the caller
// set to be ignored.
static void
remove_on_ending_signals()
{
	for (int signal_number : signals_ending_by_default()) {
		struct sigaction old;
		if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
			::signal(signal_number, remove_and_reraise);
	}
}

bool
remove_on_ending(const std::string &name)
{
	if (name.size() >= sizeof removal_path)
		return false;
	memcpy(removal_path, name.c_str(), name.size() + 1);
	if (!name.empty())
		remove_on_ending_signals();
	return true;
}

bool
write_all(int fd, const char *data, size_t n)
{
	while (n > 0) {
		ssize_t done = write(fd, data, n);
		if (done < 0 && errno == EINTR)
			continue;
		if (done < 0)
			return false;
		data += done;
		n -= size_t(done);
	}
	return true;
}

bool
sync_and_close(int fd)
{
	return fsync(fd) == 0 && close(fd) == 0;
}

bool
rename_file(const std::string &from, const std::string &to)
{
	return rename(from.c_str(), to.c_str()) == 0;
}
