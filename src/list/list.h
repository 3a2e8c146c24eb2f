// rowsift-list: walks directory trees and writes a hash listing that
// rowsift reads.  The run's plain structs and the functions of each stage.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "listing/algorithms.h"
#include "listing/columns.h"
#include "platform/tree.h"

extern const char *const list_version;

// Every path under /usr on the machine it was chosen on fits, written in
// full (195 bytes at the longest), with a few bytes to spare.
const int default_width = 200;
const int max_width = 65536;

struct ListOptions {
	std::vector<std::string> roots;
	std::vector<std::string> excludes;
	std::string output_path;	// empty: the standard output
	std::string prefix;
	std::string like_path;
	std::string reuse_path;
	const HashAlgorithm *algorithm = &hash_algorithms[0];
	int width = default_width;
	bool width_given = false;
	bool algorithm_given = false;
	bool lf_only = false;
	bool content_only = false;	// regular files only, without their status
	bool content_only_given = false;
	bool one_file_system = false;
	bool quiet = false;
	int threads = 2;
};

enum RecordState : uint8_t { record_pending, record_hashed, record_unreadable };

// One entry: a regular file, a symbolic link, a directory or another
// kind.  path is written after the prefix; with one root it is relative
// to it, with several it begins with its root, and the part from
// rel_offset on is always relative to the root.  The hashing threads
// read regular files; a link's target text is hashed by the walk, and
// the other kinds have no content.
struct Record {
	std::string path;
	int64_t size = -1;		// -1: unknown
	int64_t mtime = 0;
	int64_t changed = 0;	// the status-change time the walk saw
	uint32_t mode = 0, uid = 0, gid = 0;
	FileKind kind = FileKind::regular;
	bool stat_known = false;
	uint8_t root = 0;
	uint8_t state = record_pending;
	uint16_t rel_offset = 0;
	unsigned char digest[max_digest_bytes];
};

struct Root {
	std::string name;	// as given, trailing slashes dropped
	int fd = -1;
	FileStatus status;	// of the directory itself, a link followed
};

// The records found so far and the next one to hash.  Records never move
// once added (a deque keeps references on push_back), so a hashing thread
// works on one without holding the lock.
struct WorkQueue {
	std::mutex lock;
	std::condition_variable more;
	std::deque<Record> records;
	size_t next = 0;
	bool walk_done = false;
	std::atomic<bool> stop{false};
};

struct Counters {
	std::atomic<uint64_t> files_found{0}, bytes_found{0};
	std::atomic<uint64_t> files_done{0}, bytes_done{0};
	std::atomic<uint64_t> unreadable{0};
	std::atomic<uint64_t> reused{0};
};

// The file being written, which the walk leaves out.
struct OwnFile {
	uint64_t device = 0, inode = 0;
};

extern ListOptions options;
extern std::vector<Root> roots;
extern WorkQueue work;
extern Counters counters;
extern std::vector<OwnFile> own_files;
extern std::atomic<int> exit_status;

// messages.cpp: every line on stderr, kept clear of the progress line,
// and every end of the run.  Their names are rowsift-list's own: the tests
// link rowsift's stages beside them.
std::string escaped_name(const std::string &path);
// A line on stderr about a path that leaves the exit status as it is.
void report_path_note(const std::string &path, const std::string &text);
void report_path_error(const std::string &path, int error);
void report_path_problem(const std::string &path, const std::string &reason);
void list_report(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Ends the run with status 2, the temporary listing removed.
[[noreturn]] void list_fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// As list_fail, with a pointer to --help after the message.
[[noreturn]] void list_fail_usage(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// As list_fail_usage, for a message already written.
[[noreturn]] void list_end_usage();
// Ends the run with the status once stdout is written out; a failure to
// write it ends the run with status 2 instead, saying so.
[[noreturn]] void list_end_run(int status);
void set_cleanup_path(const std::string &path);
std::unique_lock<std::mutex> lock_stderr();
void note_progress_line(size_t length);

// options.cpp
void parse_list_options(int argc, char **argv);
Layout layout_of(const ListOptions &o);

// format.cpp
std::string title_line(const ListOptions &o, int64_t now);
void format_record(char *line, const Record &r, const std::string &prefix, const Layout &layout);
// The size, date and time columns and the bar after them, which the
// layouts share, and the path column: what a file's earlier record must
// repeat for its hash to be taken over.
void format_content_columns(char *line, const Record &r);
void format_path(char *line, const Record &r, const std::string &prefix, const Layout &layout);

// walk.cpp
void open_roots();
void walk_roots();
std::string shown_path(const Root &root, const std::string &relative);
std::string open_failure(int error);

// reuse.cpp
// What the title line of an earlier listing says of its layout.
struct EarlierLayout {
	const HashAlgorithm *algorithm = nullptr;
	int width = 0;
	bool lf_only = false;
	bool content_only = false;
};
// Reads the earlier listing whole; ends the run when it is none.
EarlierLayout read_earlier_listing(const std::string &path);
// Checks it against the layout of the options, which must be its own.
void index_earlier_listing();
// Gives the record the earlier listing's hash when the file can't have
// changed since; false when it is to be read.
bool reuse_earlier_hash(Record &r);

// hash.cpp
void fetch_digest();
// The hash of text held in memory, as a file of those bytes gets it.
bool hash_text(const std::string &text, unsigned char *digest_out);
void hash_records();

// output.cpp
void open_output();
void write_listing(const std::vector<const Record *> &sorted, int64_t now);

// progress.cpp
void start_progress();
void stop_progress();
void print_summary();
