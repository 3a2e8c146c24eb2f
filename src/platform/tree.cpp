#include "platform/tree.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

bool
read_link(const char *path, std::string &text)
{
	struct stat st;
	if (lstat(path, &st) != 0)
		return false;
	// Room for one byte more than the link claims tells a link that grew
	// since it was measured.
	std::vector<char> buffer(size_t(st.st_size) + 2);
	ssize_t n = readlink(path, buffer.data(), buffer.size());
	if (n < 0)
		return false;
	if (size_t(n) >= buffer.size()) {
		errno = EOVERFLOW;
		return false;
	}
	text.assign(buffer.data(), size_t(n));
	return true;
}

// No link text is longer than PATH_MAX on Linux, but the buffer grows
// rather than trust that of every file system.
bool
read_link_at(int dir_fd, const char *name, std::string &text)
{
	std::vector<char> buffer(4096);
	for (;;) {
		ssize_t n = readlinkat(dir_fd, name, buffer.data(), buffer.size());
		if (n < 0)
			return false;
		if (size_t(n) < buffer.size()) {
			text.assign(buffer.data(), size_t(n));
			return true;
		}
		buffer.resize(buffer.size() * 2);
	}
}

int
open_directory(const char *path)
{
	return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool
on_kernel_file_system(int fd)
{
	// Not among the kernel's exported headers.
	const unsigned long configfs_magic = 0x62656570;
	static const unsigned long kernel_types[] = {
		PROC_SUPER_MAGIC, SYSFS_MAGIC, CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC,
		DEBUGFS_MAGIC, TRACEFS_MAGIC, SECURITYFS_MAGIC, PSTOREFS_MAGIC, BPF_FS_MAGIC,
		configfs_magic, DEVPTS_SUPER_MAGIC, EFIVARFS_MAGIC,
	};
	struct statfs fs;
	if (fstatfs(fd, &fs) != 0)
		return false;
	for (unsigned long type : kernel_types)
		if ((unsigned long)fs.f_type == type)
			return true;
	return false;
}

bool
open_entries(DirectoryReader &reader, int fd)
{
	DIR *dir = fdopendir(fd);
	if (!dir) {
		int error = errno;
		close(fd);
		errno = error;
		return false;
	}
	reader.stream = dir;
	return true;
}

static void
fill_kind(unsigned char type, DirectoryEntry &entry)
{
	entry.kind_known = type != DT_UNKNOWN;
	entry.kind = type == DT_REG ? FileKind::regular : type == DT_DIR ? FileKind::directory :
	    type == DT_LNK ? FileKind::link : FileKind::other;
}

bool
next_entry(DirectoryReader &reader, DirectoryEntry &entry)
{
	for (;;) {
		errno = 0;
		const struct dirent *found = readdir(static_cast<DIR *>(reader.stream));
		if (!found)
			return false;
		if (strcmp(found->d_name, ".") == 0 || strcmp(found->d_name, "..") == 0)
			continue;
		entry.name = found->d_name;
		fill_kind(found->d_type, entry);
		return true;
	}
}

void
close_entries(DirectoryReader &reader)
{
	if (reader.stream)
		closedir(static_cast<DIR *>(reader.stream));
	reader.stream = nullptr;
}

void
advise_sequential(int fd)
{
	posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

int64_t
read_some(int fd, char *buffer, size_t size)
{
	ssize_t got;
	while ((got = read(fd, buffer, size)) < 0 && errno == EINTR)
		;
	return int64_t(got);
}

void
close_file(int fd)
{
	close(fd);
}
