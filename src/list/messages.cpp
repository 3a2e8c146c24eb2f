#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "list/list.h"
#include "listing/escape.h"
#include "platform/process.h"
#include "platform/replacing.h"

static std::mutex stderr_lock;
static size_t progress_length;	// of the progress line now shown; 0: none

std::unique_lock<std::mutex>
lock_stderr()
{
	std::unique_lock<std::mutex> held(stderr_lock);
	if (progress_length) {
		fputs("\r\033[K", stderr);
		progress_length = 0;
	}
	return held;
}

void
note_progress_line(size_t length)
{
	progress_length = length;
}

// Control bytes in a name would act on the terminal, so they are shown as
// they are in the listing.
std::string
escaped_name(const std::string &path)
{
	std::string shown;
	append_escaped(shown, path.data(), path.size());
	return shown;
}

void
report_path_note(const std::string &path, const std::string &text)
{
	auto held = lock_stderr();
	fprintf(stderr, "rowsift-list: %s: %s\n", escaped_name(path).c_str(), text.c_str());
}

void
report_path_problem(const std::string &path, const std::string &reason)
{
	report_path_note(path, reason);
	int expected = 0;
	exit_status.compare_exchange_strong(expected, 1);
}

void
report_path_error(const std::string &path, int error)
{
	report_path_problem(path, strerror(error));
}

static void
write_message(const char *fmt, va_list args)
{
	auto held = lock_stderr();
	fputs("rowsift-list: ", stderr);
	vfprintf(stderr, fmt, args);
	fputc('\n', stderr);
}

void
list_report(const char *fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	write_message(fmt, args);
	va_end(args);
}

// Other threads may still be hashing, so the process ends without running
// destructors under them.  The temporary listing is removed first.
void
list_fail(const char *fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	write_message(fmt, args);
	va_end(args);
	remove_hidden_file();
	fflush(stderr);
	end_process_now(2);
}

void
list_end_usage()
{
	fputs("Try 'rowsift-list --help' for more information.\n", stderr);
	remove_hidden_file();
	end_process_now(2);
}

void
list_fail_usage(const char *fmt, ...)
{
	va_list args;
	va_start(args, fmt);
	write_message(fmt, args);
	va_end(args);
	list_end_usage();
}

void
list_end_run(int status)
{
	if (fflush(stdout) != 0 || ferror(stdout))
		list_fail("standard output: %s", strerror(errno));
	end_process(status);
}

// The temporary listing, removed when the run fails or is interrupted.
void
set_cleanup_path(const std::string &path)
{
	if (!remove_on_ending(path))
		list_fail("%s: name too long", path.c_str());
}
