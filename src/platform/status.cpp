#include "platform/status.h"

#include <fcntl.h>
#include <sys/stat.h>

static FileKind
kind_of_mode(mode_t mode)
{
	if (S_ISREG(mode))
		return FileKind::regular;
	if (S_ISDIR(mode))
		return FileKind::directory;
	if (S_ISLNK(mode))
		return FileKind::link;
	return FileKind::other;
}

static bool
fill_status(int result, const struct stat &st, FileStatus &status)
{
	if (result != 0)
		return false;
	status.kind = kind_of_mode(st.st_mode);
	status.device = uint64_t(st.st_dev);
	status.inode = uint64_t(st.st_ino);
	status.links = uint64_t(st.st_nlink);
	status.size = int64_t(st.st_size);
	status.modified_seconds = int64_t(st.st_mtim.tv_sec);
	status.modified_nanoseconds = int64_t(st.st_mtim.tv_nsec);
	status.changed_seconds = int64_t(st.st_ctim.tv_sec);
	status.changed_nanoseconds = int64_t(st.st_ctim.tv_nsec);
	status.mode = uint32_t(st.st_mode);
	status.uid = uint32_t(st.st_uid);
	status.gid = uint32_t(st.st_gid);
	return true;
}

bool
status_of(int fd, FileStatus &status)
{
	struct stat st;
	return fill_status(fstat(fd, &st), st, status);
}

bool
status_at(int dir_fd, const char *name, FileStatus &status)
{
	struct stat st;
	return fill_status(fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW), st, status);
}

bool
link_status(const char *path, FileStatus &status)
{
	struct stat st;
	return fill_status(lstat(path, &st), st, status);
}

bool
path_status(const char *path, FileStatus &status)
{
	struct stat st;
	return fill_status(stat(path, &st), st, status);
}
