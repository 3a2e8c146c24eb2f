#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

#include "list/list.h"
#include "platform/descriptors.h"

// The other hashing threads start at once and hash what the walk finds
// while it goes on; this thread joins them when the walk is over.
static std::vector<std::thread>
start_helpers(int count)
{
	std::vector<std::thread> helpers;
	for (int i = 0; i < count; i++) {
		try {
			helpers.emplace_back(hash_records);
		} catch (const std::system_error &) {
			break;
		}
	}
	return helpers;
}

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
		fail("/dev/null: %s", strerror(errno));
	// A write past the file size limit fails and is told as a write error.
	signal(SIGXFSZ, SIG_IGN);
	parse_options(argc, argv);
	open_roots();
	open_output();
	fetch_digest();
	int64_t now = int64_t(time(nullptr));
	start_progress();
	std::vector<std::thread> helpers = start_helpers(options.threads - 1);
	walk_roots();
	hash_records();
	for (std::thread &helper : helpers)
		helper.join();
	stop_progress();
	std::vector<const Record *> sorted = sorted_records();
	write_listing(sorted, now);
	print_summary();
	return exit_status;
}
