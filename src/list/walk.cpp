#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fnmatch.h>
#include <unordered_set>

#include "list/list.h"
#include "listing/escape.h"
#include "platform/beneath.h"
#include "platform/tree.h"

// Paths too long for the width: the run refuses them all at once, after
// the walk, so that one message names everything to change.  Without -w
// or --like the width grows to the longest path instead.
struct LongPaths {
	uint64_t count = 0;
	size_t longest = 0;
	std::string longest_path;
};

static LongPaths long_paths;

// The directories walked so far, so that one reached again (a root named
// twice, a bind mount) is listed once.
struct DirectoryId {
	uint64_t device, inode;
	bool operator==(const DirectoryId &other) const
	{
		return device == other.device && inode == other.inode;
	}
};

struct DirectoryIdHash {
	size_t operator()(const DirectoryId &id) const
	{
		return std::hash<uint64_t>()(id.inode * 31 + id.device);
	}
};

static std::unordered_set<DirectoryId, DirectoryIdHash> walked;

static const Root *
same_directory(const FileStatus &st)
{
	for (const Root &root : roots)
		if (root.status.device == st.device && root.status.inode == st.inode)
			return &root;
	return nullptr;
}

void
open_roots()
{
	for (const std::string &name : options.roots) {
		Root root;
		root.name = name;
		// A root named on the command line is followed when it is a link.
		root.fd = open_directory(name.c_str());
		FileStatus st;
		if (root.fd < 0 || !status_of(root.fd, st))
			list_fail("%s: %s", name.c_str(), strerror(errno));
		if (const Root *first = same_directory(st)) {
			report_path_note(name, "the same directory as " + escaped_name(first->name) + "; listed once");
			close_file(root.fd);
			continue;
		}
		root.status = st;
		roots.push_back(root);
	}
}

static std::string
root_part(const Root &root)
{
	if (roots.size() == 1)
		return "";
	return root.name == "/" ? "/" : root.name + "/";
}

// A pattern with a slash is matched against the whole path under the
// root, one without against the name alone; '*' matches slashes too.  A
// pattern ending in a slash matches directories only, as it reads without
// that slash.
struct Exclusion {
	std::string pattern;
	bool whole_path;
	bool directories_only;
};

static std::vector<Exclusion> exclusions;

static void
read_exclusions()
{
	for (const std::string &given : options.excludes) {
		Exclusion e;
		e.directories_only = !given.empty() && given.back() == '/';
		e.pattern = e.directories_only ? given.substr(0, given.size() - 1) : given;
		e.whole_path = e.pattern.find('/') != std::string::npos;
		exclusions.push_back(e);
	}
}

static bool
is_excluded(const std::string &relative, const char *name, bool directory)
{
	for (const Exclusion &e : exclusions) {
		if (e.directories_only && !directory)
			continue;
		if (fnmatch(e.pattern.c_str(), e.whole_path ? relative.c_str() : name, 0) == 0)
			return true;
	}
	return false;
}

static bool
is_own_file(const FileStatus &st)
{
	for (const OwnFile &own : own_files)
		if (own.device == st.device && own.inode == st.inode)
			return true;
	return false;
}

static bool
width_grows()
{
	return !options.width_given && options.like_path.empty();
}

// The prefix and the path are measured as one: a blank or dashes where
// they meet may be escaped otherwise than in either alone.
static void
check_width(const std::string &path)
{
	std::string whole = options.prefix + path;
	size_t length = escaped_length(whole.data(), whole.size());
	if (length <= size_t(options.width))
		return;
	if (!width_grows() || length > size_t(max_width))
		work.stop = true;
	long_paths.count++;
	if (length > long_paths.longest) {
		long_paths.longest = length;
		long_paths.longest_path = whole;
	}
}

// Where a directory is read: the records of its entries and the
// directories under it.
struct DirectoryScan {
	const Root *root;
	uint8_t root_index;
	std::string part;	// what comes before the relative path in a record
	std::vector<Record> files;
	std::vector<std::string> subdirectories;
};

static Record
new_record(const std::string &path, size_t rel_offset, uint8_t root_index, FileKind kind,
    const FileStatus *st)
{
	Record r;
	r.path = path;
	r.rel_offset = uint16_t(rel_offset);
	r.root = root_index;
	r.kind = kind;
	if (st) {
		r.stat_known = true;
		r.size = st->size;
		r.mtime = st->modified_seconds;
		r.changed = st->changed_seconds;
		r.mode = st->mode;
		r.uid = st->uid;
		r.gid = st->gid;
	}
	check_width(r.path);
	return r;
}

static void
add_file(DirectoryScan &scan, const std::string &relative, const FileStatus *st)
{
	Record r = new_record(scan.part + relative, scan.part.size(), scan.root_index, FileKind::regular, st);
	if (st)
		counters.bytes_found += uint64_t(st->size);
	counters.files_found++;
	scan.files.push_back(std::move(r));
}

// A link is never followed: its hash is that of the text it holds, so
// that a link pointed elsewhere has changed.  Its size is the length of
// that text, which lstat doesn't give on every file system.
static void
hash_link(Record &r, const Root &root, int dir_fd, const char *name)
{
	std::string text;
	counters.files_found++;
	if (!read_link_at(dir_fd, name, text) || !hash_text(text, r.digest)) {
		r.state = record_unreadable;
		counters.unreadable++;
		report_path_error(shown_path(root, r.path.substr(r.rel_offset)), errno);
	} else {
		r.state = record_hashed;
		r.size = int64_t(text.size());
	}
	counters.files_done++;
}

// Links, directories and the other kinds, in the layout that lists them.
static void
add_entry(DirectoryScan &scan, int dir_fd, const char *name, const std::string &relative,
    FileKind kind, const FileStatus *st)
{
	Record r = new_record(scan.part + relative, scan.part.size(), scan.root_index, kind, st);
	if (kind == FileKind::link)
		hash_link(r, *scan.root, dir_fd, name);
	scan.files.push_back(std::move(r));
}

// A directory's record is made here, from the status its parent's entry
// gives, so that one the walk passes over later still has it.
static void
read_entry(DirectoryScan &scan, int dir_fd, const std::string &dir_relative,
    const DirectoryEntry &entry)
{
	const char *name = entry.name;
	std::string relative = dir_relative + name;
	bool content_only = options.content_only;
	if (content_only && entry.kind_known && entry.kind != FileKind::regular &&
	    entry.kind != FileKind::directory)
		return;
	bool directory = entry.kind_known && entry.kind == FileKind::directory;
	if (is_excluded(relative, name, directory))
		return;
	if (directory && content_only) {
		scan.subdirectories.push_back(relative);
		return;
	}
	FileStatus st;
	if (!status_at(dir_fd, name, st)) {
		// Gone since the directory was read: it still gets its record.
		if (entry.kind_known && entry.kind == FileKind::regular)
			add_file(scan, relative, nullptr);
		else if (entry.kind_known && !content_only)
			add_entry(scan, dir_fd, name, relative, entry.kind, nullptr);
		return;
	}
	if (st.kind == FileKind::directory) {
		if (is_excluded(relative, name, true))
			return;
		if (!content_only)
			add_entry(scan, dir_fd, name, relative, st.kind, &st);
		scan.subdirectories.push_back(relative);
		return;
	}
	if (options.one_file_system && st.device != scan.root->status.device)
		return;
	if (st.kind == FileKind::regular && !is_own_file(st))
		add_file(scan, relative, &st);
	else if (st.kind != FileKind::regular && !content_only)
		add_entry(scan, dir_fd, name, relative, st.kind, &st);
}

// Records found wait here until there are enough to wake a hashing
// thread for: handing over each directory's woke the other processor
// 17,000 times in a re-snapshot of /usr, for a few records each.  A
// large file goes at once.
struct Batch {
	std::vector<Record> records;
	uint64_t bytes = 0;
};

static Batch batch;
static const size_t batch_records = 64;
static const uint64_t batch_bytes = 1 << 20;

static void
pass_on_batch()
{
	if (batch.records.empty())
		return;
	{
		std::lock_guard<std::mutex> held(work.lock);
		for (Record &r : batch.records)
			work.records.push_back(std::move(r));
	}
	work.more.notify_all();
	batch.records.clear();
	batch.bytes = 0;
}

static void
hand_over(std::vector<Record> &files)
{
	for (Record &r : files) {
		batch.bytes += uint64_t(std::max<int64_t>(r.size, 0));
		batch.records.push_back(std::move(r));
	}
	files.clear();
	if (batch.records.size() >= batch_records || batch.bytes >= batch_bytes)
		pass_on_batch();
}

// A link found where the walk saw a directory or a file is no loop.
std::string
open_failure(int error)
{
	return error == ELOOP ? "a symbolic link now stands in its path" : strerror(error);
}

std::string
shown_path(const Root &root, const std::string &relative)
{
	if (relative.empty())
		return root.name;
	return (root.name == "/" ? "/" : root.name + "/") + relative;
}

// Whether the walk passes over the directory open on fd: one walked
// already, one on another file system under -x, one on a kernel file
// system other than the root's.
static bool
passed_over(const Root &root, const std::string &relative, int fd)
{
	FileStatus st;
	if (!status_of(fd, st)) {
		report_path_error(shown_path(root, relative), errno);
		return true;
	}
	if (st.device != root.status.device &&
	    (options.one_file_system || on_kernel_file_system(fd)))
		return true;
	if (!walked.insert(DirectoryId{ st.device, st.inode }).second) {
		report_path_note(shown_path(root, relative), "a directory listed already; passed over");
		return true;
	}
	return false;
}

// Each directory is opened from the root by its relative path, no link
// followed on the way, and closed before those under it are read, so
// that depth never costs descriptors.
static void
walk_directory(const Root &root, uint8_t root_index, const std::string &relative)
{
	int fd = open_directory_beneath(root.fd, relative.empty() ? "." : relative.c_str());
	if (fd < 0) {
		report_path_problem(shown_path(root, relative), open_failure(errno));
		return;
	}
	if (passed_over(root, relative, fd)) {
		close_file(fd);
		return;
	}
	DirectoryReader dir;
	if (!open_entries(dir, fd)) {
		report_path_error(shown_path(root, relative), errno);
		return;
	}
	DirectoryScan scan;
	scan.root = &root;
	scan.root_index = root_index;
	scan.part = root_part(root);
	std::string dir_relative = relative.empty() ? "" : relative + "/";
	DirectoryEntry entry;
	while (next_entry(dir, entry))
		read_entry(scan, fd, dir_relative, entry);
	if (errno)
		report_path_error(shown_path(root, relative), errno);
	close_entries(dir);
	hand_over(scan.files);
	for (const std::string &sub : scan.subdirectories)
		walk_directory(root, root_index, sub);
}

static void
fail_long_paths()
{
	std::string shown;
	append_escaped(shown, long_paths.longest_path.data(), long_paths.longest_path.size());
	list_fail("%llu path%s longer than the width of %d bytes; the longest, %zu bytes, is %s;"
	    " -w %zu would hold them all",
	    (unsigned long long)long_paths.count, long_paths.count == 1 ? " is" : "s are",
	    options.width, long_paths.longest, shown.c_str(), long_paths.longest);
}

// The root's record: "." with one root, its name with several, as the
// paths under it begin.
static void
add_root_record(const Root &root, uint8_t root_index)
{
	std::string path = roots.size() == 1 ? "." : root.name;
	std::vector<Record> one;
	one.push_back(new_record(path, path.size(), root_index, FileKind::directory, &root.status));
	hand_over(one);
}

void
walk_roots()
{
	read_exclusions();
	for (size_t i = 0; i < roots.size(); i++) {
		if (!options.content_only)
			add_root_record(roots[i], uint8_t(i));
		walk_directory(roots[i], uint8_t(i), "");
	}
	pass_on_batch();
	{
		std::lock_guard<std::mutex> held(work.lock);
		work.walk_done = true;
	}
	work.more.notify_all();
	if (!long_paths.count)
		return;
	if (!width_grows() || long_paths.longest > size_t(max_width))
		fail_long_paths();
	options.width = int(long_paths.longest);
}
