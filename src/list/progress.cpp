#include <chrono>

#include "list/list.h"
#include "platform/terminal.h"
#include "platform/threads.h"

static Background reporter;
static std::mutex reporter_lock;
static std::condition_variable reporter_wake;
static bool reporter_done;
static std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

static double
seconds_since_start()
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

static double
megabytes(uint64_t bytes)
{
	return double(bytes) / 1e6;
}

// The totals grow while the walk goes on; a '+' says so.
static void
show_progress()
{
	bool walking;
	{
		std::lock_guard<std::mutex> held(work.lock);
		walking = !work.walk_done;
	}
	double seconds = seconds_since_start();
	uint64_t bytes = counters.bytes_done;
	char line[160];
	int n = snprintf(line, sizeof line, "%llu/%llu%s files, %.0f/%.0f%s MB, %.0f MB/s",
	    (unsigned long long)counters.files_done, (unsigned long long)counters.files_found,
	    walking ? "+" : "", megabytes(bytes), megabytes(counters.bytes_found),
	    walking ? "+" : "", seconds > 0 ? megabytes(bytes) / seconds : 0.0);
	auto held = lock_stderr();
	fputs(line, stderr);
	fflush(stderr);
	note_progress_line(size_t(n));
}

static void
report_until_done()
{
	std::unique_lock<std::mutex> held(reporter_lock);
	while (!reporter_wake.wait_for(held, std::chrono::milliseconds(250), [] { return reporter_done; })) {
		held.unlock();
		show_progress();
		held.lock();
	}
}

void
start_progress()
{
	started = std::chrono::steady_clock::now();
	if (options.quiet || !is_terminal(2))
		return;
	// Without a thread the listing, which is what matters, is written
	// without progress.
	start_background_if_possible(reporter, report_until_done);
}

void
stop_progress()
{
	if (!is_running(reporter))
		return;
	{
		std::lock_guard<std::mutex> held(reporter_lock);
		reporter_done = true;
	}
	reporter_wake.notify_all();
	wait_for(reporter);
	lock_stderr();
}

void
print_summary()
{
	if (options.quiet)
		return;
	double seconds = seconds_since_start();
	std::string reused;
	if (!options.reuse_path.empty())
		reused = ", " + std::to_string(counters.reused) + " hashes taken from " +
		    escaped_name(options.reuse_path);
	list_report("%llu files, %.1f MB in %.2f s (%.0f MB/s), %llu could not be read%s",
	    (unsigned long long)counters.files_done, megabytes(counters.bytes_done), seconds,
	    seconds > 0 ? megabytes(counters.bytes_done) / seconds : 0.0,
	    (unsigned long long)counters.unreadable, reused.c_str());
}
