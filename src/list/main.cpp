#include <algorithm>
#include <cerrno>
#include <cstring>

#include "list/list.h"
#include "platform/clock.h"
#include "platform/descriptors.h"
#include "platform/signals.h"
#include "platform/threads.h"

static bool
by_path(const Record *a, const Record *b)
{
	return a->path < b->path;
}

static bool
same_path(const Record *a, const Record *b)
{
	return a->path == b->path;
}

// Byte order, so that two listings of one tree come out alike.  Roots
// that overlap give a file twice; it is listed once.
static std::vector<const Record *>
sorted_records()
{
	std::vector<const Record *> sorted;
	sorted.reserve(work.records.size());
	for (const Record &r : work.records)
		sorted.push_back(&r);
	std::sort(sorted.begin(), sorted.end(), by_path);
	sorted.erase(std::unique(sorted.begin(), sorted.end(), same_path), sorted.end());
	return sorted;
}

int
main(int argc, char **argv)
{
	// A closed stdout or stderr would otherwise be the first file opened,
	// and messages would land in the listing.
	if (!open_standard_descriptors())
		list_fail("/dev/null: %s", strerror(errno));
	// A write past the file size limit fails and is told as a write error.
	ignore_file_size_limit();
	parse_list_options(argc, argv);
	open_roots();
	open_output();
	fetch_digest();
	int64_t now = current_time();
	start_progress();
	// The other hashing threads start at once and hash what the walk finds
	// while it goes on; this one hashes what is left when it is over.
	run_n(options.threads - 1, hash_records, [] {
		walk_roots();
		hash_records();
	});
	stop_progress();
	std::vector<const Record *> sorted = sorted_records();
	write_listing(sorted, now);
	print_summary();
	list_end_run(exit_status);
}
