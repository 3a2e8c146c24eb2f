#include "platform/files.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int
open_input(const char *name)
{
	// O_NONBLOCK keeps open() from waiting on a FIFO for a writer.
	int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return -1;
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
		close(fd);
		return -1;
	}
	fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
	return fd;
}

uint64_t
input_size(int handle)
{
	struct stat st;
	if (fstat(handle, &st) != 0)
		return 0;
	return uint64_t(st.st_size);
}

// Reads from the file position on, or from `at` when it is not negative,
// until size bytes are read or the file ends.
static int64_t
read_all(int handle, char *buffer, uint64_t size, int64_t at)
{
	uint64_t done = 0;
	while (done < size) {
		size_t chunk = size - done > (1u << 30) ? (1u << 30) : size_t(size - done);
		ssize_t got = at < 0 ? read(handle, buffer + done, chunk) :
		    pread(handle, buffer + done, chunk, off_t(uint64_t(at) + done));
		if (got < 0) {
			if (errno == EINTR)
				continue;
			return -1;
		}
		if (got == 0)
			break;
		done += uint64_t(got);
	}
	return int64_t(done);
}

// From this size on a file is read in two halves at once: most of the time
// goes to the kernel handing out fresh pages, which both cores can do.
static const uint64_t split_read_size = 64u << 20;

int64_t
read_input(int handle, char *buffer, uint64_t size)
{
	if (size < split_read_size)
		return read_all(handle, buffer, size, -1);
	uint64_t half = size / 2;
	int64_t second = -1;
	std::thread helper;
	try {
		helper = std::thread([&] {
			second = read_all(handle, buffer + half, size - half, int64_t(half));
		});
	} catch (const std::system_error &) {
		return read_all(handle, buffer, size, -1);
	}
	int64_t first = read_all(handle, buffer, half, 0);
	helper.join();
	if (first < 0 || second < 0)
		return -1;
	if (uint64_t(first) < half) {
		// The file shrank: what the second half found lies beyond its end,
		// where the loader expects zeros.
		memset(buffer + half, 0, size_t(size - half));
		return first;
	}
	return first + second;
}

void
close_input(int handle)
{
	close(handle);
}
