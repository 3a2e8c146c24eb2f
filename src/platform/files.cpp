#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/memory.h"
#include "platform/signals.h"

int
open_input(const char *name)
{
	// O_NONBLOCK keeps open() from waiting on a FIFO for a writer.
	int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return -1;
	struct stat st;
	if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
		close(fd);
		return -1;
	}
	fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
	if (S_ISFIFO(st.st_mode))
		fcntl(fd, F_SETPIPE_SZ, 1 << 20);
	return fd;
}

bool
names_stream(const char *name)
{
	struct stat st;
	return stat(name, &st) == 0 && S_ISFIFO(st.st_mode);
}

bool
same_stream(const char *a, const char *b)
{
	struct stat sa, sb;
	return stat(a, &sa) == 0 && stat(b, &sb) == 0 && S_ISFIFO(sa.st_mode) &&
	    S_ISFIFO(sb.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

uint64_t
input_size(int handle)
{
	struct stat st;
	if (fstat(handle, &st) != 0)
		return 0;
	return uint64_t(st.st_size);
}

FileStatus
identify_input(int handle)
{
	FileStatus status;
	if (!status_of(handle, status))
		return FileStatus();
	return status;
}

bool
is_stream(const FileStatus &status)
{
	return S_ISFIFO(status.mode);
}

bool
same_input(const FileStatus &a, const FileStatus &b)
{
	return a.device == b.device && a.inode == b.inode && a.size == b.size &&
	    a.modified_seconds == b.modified_seconds &&
	    a.modified_nanoseconds == b.modified_nanoseconds &&
	    a.changed_seconds == b.changed_seconds && a.changed_nanoseconds == b.changed_nanoseconds;
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

// The room a stream's region starts with, and the least room a read is
// given before the region grows.
static const size_t stream_start = size_t(1) << 20;
static const size_t stream_read_room = size_t(64) << 10;
// The zero bytes that follow the data, as they follow a mapped file.
static const size_t stream_zeros = 1024;

// Until the stream has something to read, or has ended; false when a
// stop signal came first.  A signal wakes only the thread it is delivered
// to, so the wait looks at the run's signal again every tenth of a second.
static bool
wait_for_stream(int handle)
{
	struct pollfd ready = { handle, POLLIN, 0 };
	while (!stop_signal()) {
		int n = poll(&ready, 1, 100);
		// A failed poll is left to the read to report.
		if (n > 0 || (n < 0 && errno != EINTR))
			return true;
	}
	return false;
}

// Room for `want` more bytes and the zeros after them.
static bool
make_room(StreamData &data, uint64_t want)
{
	uint64_t needed = data.size + want + stream_zeros;
	if (needed <= data.buffer_size)
		return true;
	size_t size = data.buffer_size ? data.buffer_size : stream_start;
	while (size < needed)
		size *= 2;
	char *grown = data.buffer ? grow_region(data.buffer, data.buffer_size, size) :
	    allocate_growable(size);
	if (!grown)
		return false;
	data.buffer = grown;
	data.buffer_size = size;
	return true;
}

StreamRead
read_stream(int handle, StreamData &data, uint64_t most)
{
	uint64_t room = data.buffer_size - std::min<uint64_t>(data.buffer_size, data.size + stream_zeros);
	if (room < stream_read_room && !make_room(data, std::min<uint64_t>(most, stream_read_room)))
		return StreamRead::no_memory;
	room = data.buffer_size - (data.size + stream_zeros);
	size_t want = size_t(std::min<uint64_t>({ most, room, uint64_t(1) << 30 }));
	if (!wait_for_stream(handle))
		return StreamRead::stopped;
	ssize_t got;
	do
		got = read(handle, data.buffer + data.size, want);
	while (got < 0 && errno == EINTR);
	if (got < 0)
		return StreamRead::failed;
	if (got == 0)
		return StreamRead::ended;
	data.size += uint64_t(got);
	return StreamRead::more;
}

void
seal_stream(const StreamData &data)
{
	if (data.buffer)
		make_read_only(data.buffer, data.buffer_size);
}

// The files mapped now.  A page of one that is gone when it is touched
// raises SIGBUS; the handler puts a page of zeros in its place and notes
// the loss, so a file that shrinks under the run can't end it.
struct InputMap {
	std::atomic<char *> start{ nullptr };
	std::atomic<size_t> length{ 0 };
	std::atomic<bool> lost{ false };
};
static InputMap input_maps[8];

static void
on_lost_page(int, siginfo_t *info, void *)
{
	char *address = static_cast<char *>(info->si_addr);
	for (InputMap &m : input_maps) {
		char *start = m.start.load();
		if (!start || address < start || address >= start + m.length.load())
			continue;
		auto page_size = uintptr_t(sysconf(_SC_PAGESIZE));
		auto *page = reinterpret_cast<char *>(reinterpret_cast<uintptr_t>(address) & ~(page_size - 1));
		if (mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
		    -1, 0) != MAP_FAILED) {
			m.lost = true;
			return;
		}
	}
	// Not a file of ours: the fault takes its usual course.
	signal(SIGBUS, SIG_DFL);
}

static bool
watch_lost_pages()
{
	struct sigaction action = {};
	action.sa_sigaction = on_lost_page;
	action.sa_flags = SA_SIGINFO;
	sigemptyset(&action.sa_mask);
	return sigaction(SIGBUS, &action, nullptr) == 0;
}

static InputMap *
remember_map(char *at, size_t length)
{
	static const bool watching = watch_lost_pages();
	static std::mutex taking_slot;
	if (!watching)
		return nullptr;
	std::lock_guard<std::mutex> lock(taking_slot);
	for (InputMap &m : input_maps) {
		if (m.start.load())
			continue;
		// The handler reads the start first: it must find the rest set.
		m.length = length;
		m.lost = false;
		m.start = at;
		return &m;
	}
	return nullptr;
}

static InputMap *
find_map(const char *at)
{
	for (InputMap &m : input_maps)
		if (m.start.load() == at)
			return &m;
	return nullptr;
}

bool
map_input(int handle, char *at, uint64_t size)
{
	if (size == 0)
		return true;
	InputMap *m = remember_map(at, size_t(size));
	if (!m)
		return false;
	if (mmap(at, size_t(size), PROT_READ, MAP_PRIVATE | MAP_FIXED, handle, 0) == MAP_FAILED) {
		m->start = nullptr;
		return false;
	}
	// Where the file's cached pages come in large blocks, they are mapped
	// a block at a time: fewer faults, and lookups that reach records at
	// random miss the address cache far less often.
	madvise(at, size_t(size), MADV_HUGEPAGE);
	return true;
}

bool
input_lost(const char *at)
{
	InputMap *m = find_map(at);
	return m && m->lost;
}

void
unmap_input(char *at, size_t size)
{
	if (!at)
		return;
	munmap(at, size);
	if (InputMap *m = find_map(at))
		m->start = nullptr;
}

void
close_input(int handle)
{
	close(handle);
}
