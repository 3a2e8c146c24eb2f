// What the file system says of a file: its kind, identity, size, times,
// permissions and owners, for rowsift's inputs and rowsift-list's walk.
#pragma once

#include <cstdint>

enum class FileKind { regular, directory, link, other };

struct FileStatus {
	FileKind kind = FileKind::other;
	uint64_t device = 0;
	uint64_t inode = 0;
	uint64_t links = 0;
	int64_t size = 0;
	int64_t modified_seconds = 0;
	int64_t modified_nanoseconds = 0;
	// Of the status, which no caller can set: a write that keeps the
	// modification time (touch -r) still moves it.
	int64_t changed_seconds = 0;
	int64_t changed_nanoseconds = 0;
	uint32_t mode = 0;	// type and permission bits, as st_mode holds them
	uint32_t uid = 0;
	uint32_t gid = 0;
};

// The status of an open file; false with errno set on failure.
bool status_of(int fd, FileStatus &status);
// The status of a name in the directory open on dir_fd, a symbolic link
// taken as itself.
bool status_at(int dir_fd, const char *name, FileStatus &status);
// The status of a path, its last component taken as itself when a link
// (link_status) or followed (path_status).
bool link_status(const char *path, FileStatus &status);
bool path_status(const char *path, FileStatus &status);
