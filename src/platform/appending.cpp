#include "platform/appending.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

// Large enough for a run's log block and for few writes of mismatch lines;
// small enough that a failing disk is noticed while the lines are written.
static const size_t stream_buffer_size = 1 << 16;

static bool
is_same_file(const struct stat &file, const char *name)
{
	struct stat other;
	return stat(name, &other) == 0 && other.st_dev == file.st_dev && other.st_ino == file.st_ino;
}

// O_NONBLOCK keeps open() from waiting on a FIFO; it is refused anyway.
static const int append_flags = O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC;

int
open_existing_appending(const char *path, const std::vector<const char *> &others)
{
	int fd = open(path, append_flags);
	if (fd < 0)
		return errno == ENOENT ? no_such_file : refused_file;
	struct stat st;
	bool refused = fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
	for (size_t i = 0; !refused && i < others.size(); i++)
		refused = is_same_file(st, others[i]);
	if (refused || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
		close(fd);
		return refused_file;
	}
	return fd;
}

int
open_or_create_appending(const char *path, const std::vector<const char *> &others)
{
	for (;;) {
		int fd = open_existing_appending(path, others);
		if (fd != no_such_file)
			return fd;
		fd = open(path, (append_flags & ~O_NONBLOCK) | O_CREAT | O_EXCL, 0666);
		if (fd >= 0)
			return fd;
		// Another run appending to the same file may have created it.
		if (errno != EEXIST)
			return refused_file;
	}
}

void
close_appending(int handle)
{
	if (handle >= 0)
		close(handle);
}

struct LineFile {
	int handle = -1;
	std::string unfinished;	// the start of a line, kept back
	char buffer[stream_buffer_size];
};

// Writes every part; true when all were written.
static bool
write_all(int handle, iovec *parts, int count)
{
	while (count > 0) {
		ssize_t done = writev(handle, parts, count);
		if (done < 0) {
			if (errno == EINTR)
				continue;
			return false;
		}
		for (; count > 0 && size_t(done) >= parts->iov_len; parts++, count--)
			done -= ssize_t(parts->iov_len);
		if (count > 0) {
			parts->iov_base = static_cast<char *>(parts->iov_base) + done;
			parts->iov_len -= size_t(done);
		}
	}
	return true;
}

// The stream's writer: what was kept back and the data up to its last line
// end go out in one write; the rest is kept back.  0 tells the stream the
// write failed.
static ssize_t
write_lines(void *cookie, const char *data, size_t size)
{
	auto *file = static_cast<LineFile *>(cookie);
	const void *last = memrchr(data, '\n', size);
	size_t whole = last ? size_t(static_cast<const char *>(last) - data) + 1 : 0;
	try {
		if (whole > 0) {
			iovec parts[2] = { { &file->unfinished[0], file->unfinished.size() },
			    { const_cast<char *>(data), whole } };
			if (!write_all(file->handle, parts, 2))
				return 0;
			file->unfinished.clear();
		}
		file->unfinished.append(data + whole, size - whole);
	} catch (const std::bad_alloc &) {
		return 0;
	}
	return ssize_t(size);
}

static int
close_lines(void *cookie)
{
	auto *file = static_cast<LineFile *>(cookie);
	iovec rest = { &file->unfinished[0], file->unfinished.size() };
	bool written = write_all(file->handle, &rest, 1);
	bool closed = close(file->handle) == 0;
	delete file;
	return written && closed ? 0 : -1;
}

FILE *
stream_whole_lines(int handle)
{
	auto *file = new (std::nothrow) LineFile;
	if (!file) {
		close(handle);
		return nullptr;
	}
	file->handle = handle;
	cookie_io_functions_t calls = { nullptr, write_lines, nullptr, close_lines };
	FILE *stream = fopencookie(file, "w", calls);
	if (!stream) {
		close_lines(file);
		return nullptr;
	}
	setvbuf(stream, file->buffer, _IOFBF, sizeof file->buffer);
	return stream;
}
