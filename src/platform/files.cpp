#include "platform/files.h"

#include <cerrno>
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

int64_t
read_input(int handle, char *buffer, uint64_t size)
{
	uint64_t done = 0;
	while (done < size) {
		size_t chunk = size - done > (1u << 30) ? (1u << 30) : size_t(size - done);
		ssize_t got = read(handle, buffer + done, chunk);
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

void
close_input(int handle)
{
	close(handle);
}
