#include "platform/beneath.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Cleared at the first sign that the kernel lacks openat2 or a filter
// forbids it; every open then takes the path one component at a time.
static std::atomic<bool> openat2_works{true};

static int
open_with_openat2(int dir_fd, const char *relative, int flags)
{
	struct open_how how = {};
	how.flags = uint64_t(flags | O_NOFOLLOW);
	how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
	return int(syscall(SYS_openat2, dir_fd, relative, &how, sizeof how));
}

// A link where a directory was expected fails with ENOTDIR; it is told
// as openat2 tells it.
static bool
is_link(int dir_fd, const char *name)
{
	struct stat st;
	return fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Each directory on the way is opened without following a link, from the
// one before it.
static int
open_by_components(int dir_fd, const char *relative, int flags)
{
	std::string path = relative;
	int at = dir_fd;
	size_t start = 0;
	for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
		if (slash == start)
			continue;
		std::string component = path.substr(start, slash - start);
		int next = openat(at, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		int error = errno;
		if (next < 0 && error == ENOTDIR && is_link(at, component.c_str()))
			error = ELOOP;
		if (at != dir_fd)
			close(at);
		if (next < 0) {
			errno = error;
			return -1;
		}
		at = next;
	}
	int fd = openat(at, path.c_str() + start, flags | O_NOFOLLOW);
	int error = errno;
	if (at != dir_fd)
		close(at);
	errno = error;
	return fd;
}

int
open_beneath(int dir_fd, const char *relative, int flags)
{
	if (openat2_works) {
		int fd = open_with_openat2(dir_fd, relative, flags);
		if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
			return fd;
		openat2_works = false;
	}
	return open_by_components(dir_fd, relative, flags);
}

int
open_directory_beneath(int dir_fd, const char *relative)
{
	return open_beneath(dir_fd, relative, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int
open_file_beneath(int dir_fd, const char *relative)
{
	return open_beneath(dir_fd, relative, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}
