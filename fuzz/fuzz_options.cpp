// The option parser on arbitrary argument vectors: the input is split at
// zero bytes into the arguments after the program name.  Output files are
// created in a private temporary directory, which is emptied after every
// input; "/" in an argument becomes "_" so that no name reaches outside.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "front/options.h"
#include "fuzz_state.h"
#include "run_state.h"

static std::vector<FILE *> open_files;

extern "C" FILE *__real_fopencookie(void *cookie, const char *mode, cookie_io_functions_t calls);
extern "C" int __real_fclose(FILE *file);

extern "C" FILE *
__wrap_fopencookie(void *cookie, const char *mode, cookie_io_functions_t calls)
{
	FILE *file = __real_fopencookie(cookie, mode, calls);
	if (file)
		open_files.push_back(file);
	return file;
}

extern "C" int
__wrap_fclose(FILE *file)
{
	for (size_t i = 0; i < open_files.size(); i++) {
		if (open_files[i] == file) {
			open_files.erase(open_files.begin() + long(i));
			break;
		}
	}
	return __real_fclose(file);
}

static void
close_open_files()
{
	while (!open_files.empty())
		__wrap_fclose(open_files.back());
}

static void
empty_directory()
{
	DIR *dir = opendir(".");
	if (!dir)
		return;
	while (dirent *entry = readdir(dir)) {
		std::string name = entry->d_name;
		if (name != "." && name != "..")
			remove(name.c_str());
	}
	closedir(dir);
}

static char directory[] = "/tmp/rowsift-fuzz-XXXXXX";

static void
remove_directory()
{
	empty_directory();
	rmdir(directory);
}

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	if (!mkdtemp(directory) || chdir(directory) != 0)
		abort();
	atexit(remove_directory);
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> args{"rowsift"};
	std::string arg;
	for (size_t i = 0; i < size; i++) {
		if (data[i] == '\0') {
			args.push_back(arg);
			arg.clear();
		} else {
			arg += data[i] == '/' ? '_' : char(data[i]);
		}
	}
	args.push_back(arg);
	std::vector<char *> argv;
	for (std::string &a : args)
		argv.push_back(&a[0]);
	argv.push_back(nullptr);
	int argc = int(args.size());

	reset_run_state();
	try {
		int first = parse_options(argc, argv.data());
		require(first >= 1 && first <= argc);
		require(settings.field_start >= 0 && settings.field_length >= 0);
		require(settings.output_requested == (output_stream != stdout));
	} catch (const RunEnded &end) {
		require(end.status == 1);
	}
	close_open_files();
	empty_directory();
	return 0;
}
