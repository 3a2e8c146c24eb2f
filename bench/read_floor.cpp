// The read floor of rowsift-list's benchmark: reads every file named in
// FILE_LIST (NUL-separated, as find -print0 writes it) into a buffer and
// throws the bytes away, on THREADS threads (2 by default), each taking
// the next file in turn as the program's hashing threads do.  No hash
// can make a listing faster than this; cat is no floor, since one cat per
// file costs more in starting than reading.  Prints the files and bytes
// read, and the files it could not open.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

// As rowsift-list reads.
static const size_t buffer_size = 512 << 10;

static std::vector<std::string> paths;
static std::atomic<size_t> next_path{0};
static std::atomic<uint64_t> bytes_read{0}, files_read{0}, files_failed{0};

static bool
read_list(const char *list_path)
{
	FILE *in = fopen(list_path, "rb");
	if (!in)
		return false;
	std::string list;
	char chunk[65536];
	size_t got;
	while ((got = fread(chunk, 1, sizeof chunk, in)) > 0)
		list.append(chunk, got);
	fclose(in);
	for (size_t start = 0, end; (end = list.find('\0', start)) != std::string::npos; start = end + 1)
		paths.push_back(list.substr(start, end - start));
	return true;
}

static void
read_file(const std::string &path, char *buffer)
{
	int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0) {
		files_failed++;
		return;
	}
	uint64_t total = 0;
	ssize_t got;
	while ((got = read(fd, buffer, buffer_size)) > 0)
		total += uint64_t(got);
	close(fd);
	bytes_read += total;
	files_read++;
}

static void
read_files()
{
	char *buffer = static_cast<char *>(aligned_alloc(4096, buffer_size));
	if (!buffer)
		abort();
	for (size_t i; (i = next_path++) < paths.size();)
		read_file(paths[i], buffer);
	free(buffer);
}

int
main(int argc, char **argv)
{
	if (argc < 2 || argc > 3) {
		fprintf(stderr, "usage: read_floor FILE_LIST [THREADS]\n");
		return 2;
	}
	int thread_count = argc == 3 ? atoi(argv[2]) : 2;
	if (thread_count < 1 || !read_list(argv[1])) {
		fprintf(stderr, "read_floor: bad thread count or unreadable list\n");
		return 2;
	}
	std::vector<std::thread> threads;
	for (int i = 0; i < thread_count; i++)
		threads.emplace_back(read_files);
	for (std::thread &t : threads)
		t.join();
	printf("%llu files, %llu bytes read, %llu not opened\n",
	    (unsigned long long)files_read, (unsigned long long)bytes_read,
	    (unsigned long long)files_failed);
	return 0;
}
