// Walking a directory tree and reading its files: what rowsift-list asks
// of the file system, with no descriptor kept longer than a directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class FileKind { regular, directory, link, other };

struct FileStatus {
	FileKind kind = FileKind::other;
	uint64_t device = 0;
	uint64_t inode = 0;
	uint64_t links = 0;
	int64_t size = 0;
	int64_t modified_seconds = 0;
	int64_t modified_nanoseconds = 0;
	int64_t changed_seconds = 0;	// of the status, which no caller can set
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
// The text of a symbolic link; false with errno set on failure.
bool read_link(const char *path, std::string &text);
// The text of the symbolic link name in the directory open on dir_fd.
bool read_link_at(int dir_fd, const char *name, std::string &text);

// Opens a directory, following a symbolic link that names it; -1 with
// errno set on failure.
int open_directory(const char *path);

// Whether the directory open on fd lies on one of the kernel's own file
// systems (/proc, /sys and the like): their files claim sizes they don't
// hold, or hold no end, and reading some has effects.
bool on_kernel_file_system(int fd);

// The entries of a directory, "." and ".." left out.  The directory's
// descriptor belongs to the reader from open_entries on, even when it
// fails.
struct DirectoryReader {
	void *stream = nullptr;
};

struct DirectoryEntry {
	const char *name;	// valid until the next entry is read
	FileKind kind;
	bool kind_known;	// false: the file system doesn't say
};

bool open_entries(DirectoryReader &reader, int fd);
// The next entry; false at the end, with errno set when reading failed.
bool next_entry(DirectoryReader &reader, DirectoryEntry &entry);
void close_entries(DirectoryReader &reader);

// Tells the kernel the file will be read from start to end once.
void advise_sequential(int fd);

// Reads up to size bytes, a read cut by a signal taken up again: the
// number read, 0 at the end, -1 with errno set on failure.
int64_t read_some(int fd, char *buffer, size_t size);

void close_file(int fd);
