// Runs one command and reports its wall time, CPU time (user + system, its
// children included) and peak resident memory on one line of RESULT_FILE.
// With --phases the command's stderr is read through a pipe and the time
// between rowsift's progress messages and their erasure is added up by
// step: count, read, extract, sort, passes (from the end of the second
// sort to the end); "other" is the rest.  The command's stderr bytes are not kept.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

static double
seconds_since(Clock::time_point start)
{
	return std::chrono::duration<double>(Clock::now() - start).count();
}

enum Phase { none, count, read_file, extract, sort_table, passes, phase_count };
static const char *const phase_names[] = { "", "count", "read", "extract", "sort", "passes" };

struct PhaseClock {
	double total[phase_count] = {};
	Phase open = none;
	int sorts_done = 0;
	double opened_at = 0;
	std::string tail;	// end of the previous chunk, for markers cut in two

	void
	close(double now)
	{
		if (open == none || open == passes)
			return;
		total[open] += now - opened_at;
		// Both tables are sorted: what follows is the passes.
		if (open == sort_table && ++sorts_done == 2)
			start(passes, now);
		else
			open = none;
	}
	void
	start(Phase p, double now)
	{
		open = p;
		opened_at = now;
	}
	// A chunk ends the step in progress (its erasure, or the next message)
	// and may start another; a step whose message and erasure arrive in
	// one chunk took no measurable time.
	void
	see(const std::string &chunk, double now)
	{
		if (open == passes)
			return;
		close(now);
		if (open == passes)
			return;
		std::string text = tail + chunk;
		static const struct { const char *marker; Phase phase; } markers[] = {
			{ "Getting number of records", count }, { "Reading ", read_file },
			{ "Processing ", extract }, { "Sorting records", sort_table },
			{ "Processed ", passes },
		};
		size_t best = std::string::npos;
		Phase found = none;
		for (const auto &m : markers) {
			size_t at = text.rfind(m.marker);
			if (at != std::string::npos && at + strlen(m.marker) > tail.size() &&
			    (best == std::string::npos || at > best)) {
				best = at;
				found = m.phase;
			}
		}
		tail = text.size() > 32 ? text.substr(text.size() - 32) : text;
		if (found == none)
			return;
		if (found == passes) {
			start(passes, now);
			return;
		}
		if (text.find('\b', best) == std::string::npos)
			start(found, now);
		else if (found == sort_table && ++sorts_done == 2)
			start(passes, now);
	}
};

int
main(int argc, char **argv)
{
	bool phases = argc > 1 && strcmp(argv[1], "--phases") == 0;
	int first = phases ? 2 : 1;
	if (argc < first + 2) {
		fprintf(stderr, "usage: measure [--phases] RESULT_FILE COMMAND [ARG...]\n");
		return 2;
	}
	const char *result_path = argv[first];
	int pipe_ends[2];
	if (phases && pipe(pipe_ends) != 0)
		return 1;
	Clock::time_point start = Clock::now();
	pid_t child = fork();
	if (child < 0)
		return 1;
	if (child == 0) {
		if (phases) {
			dup2(pipe_ends[1], 2);
			close(pipe_ends[0]);
			close(pipe_ends[1]);
		}
		execvp(argv[first + 1], argv + first + 1);
		perror(argv[first + 1]);
		_exit(127);
	}
	PhaseClock clock;
	if (phases) {
		close(pipe_ends[1]);
		char buffer[65536];
		ssize_t got;
		while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
			clock.see(std::string(buffer, size_t(got)), seconds_since(start));
		close(pipe_ends[0]);
	}
	int status;
	waitpid(child, &status, 0);
	double wall = seconds_since(start);
	struct rusage usage;
	getrusage(RUSAGE_CHILDREN, &usage);
	double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
	    double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
	FILE *out = fopen(result_path, "a");
	if (!out)
		return 1;
	fprintf(out, "wall=%.3f cpu=%.3f rss_kib=%ld status=%d", wall, cpu, usage.ru_maxrss,
	    WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
	if (phases) {
		if (clock.open == passes)
			clock.total[passes] = wall - clock.opened_at;
		double known = 0;
		for (int p = count; p < phase_count; p++) {
			fprintf(out, " %s=%.3f", phase_names[p], clock.total[p]);
			known += clock.total[p];
		}
		fprintf(out, " other=%.3f", wall - known);
	}
	fprintf(out, "\n");
	return fclose(out) == 0 ? 0 : 1;
}
