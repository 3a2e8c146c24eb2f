#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "list/list.h"

static int out_fd = 1;
static std::string temporary_path;

static void
leave_out(const struct stat &st)
{
	OwnFile own;
	own.device = st.st_dev;
	own.inode = st.st_ino;
	own_files.push_back(own);
}

// The listing is written under a hidden name beside its own and renamed
// into place when complete, so that a failed run never leaves half a
// listing under the name.
static void
open_temporary(const std::string &path)
{
	size_t slash = path.rfind('/');
	std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
	std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
	std::string name = dir + "." + base + ".XXXXXX";
	std::vector<char> writable(name.begin(), name.end());
	writable.push_back('\0');
	out_fd = mkstemp(writable.data());
	if (out_fd < 0)
		fail("%s: %s", path.c_str(), strerror(errno));
	temporary_path = writable.data();
	set_cleanup_path(temporary_path);
	mode_t mask = umask(0);
	umask(mask);
	fchmod(out_fd, 0666 & ~mask);
}

void
open_output()
{
	struct stat st;
	if (options.output_path.empty()) {
		if (fstat(1, &st) == 0 && S_ISREG(st.st_mode))
			leave_out(st);
		return;
	}
	// The file about to be replaced is left out too.
	if (stat(options.output_path.c_str(), &st) == 0)
		leave_out(st);
	open_temporary(options.output_path);
	if (fstat(out_fd, &st) != 0)
		fail("%s: %s", temporary_path.c_str(), strerror(errno));
	leave_out(st);
}

static const char *
output_name()
{
	return options.output_path.empty() ? "standard output" : options.output_path.c_str();
}

static void
write_all(const char *data, size_t n)
{
	while (n > 0) {
		ssize_t done = write(out_fd, data, n);
		if (done < 0 && errno == EINTR)
			continue;
		if (done < 0)
			fail("%s: %s", output_name(), strerror(errno));
		data += done;
		n -= size_t(done);
	}
}

static void
add_line(std::string &out, const std::string &line, const char *eol)
{
	out += line;
	out += eol;
}

static void
finish_output()
{
	if (options.output_path.empty())
		return;
	if (fsync(out_fd) != 0 || close(out_fd) != 0)
		fail("%s: %s", output_name(), strerror(errno));
	if (rename(temporary_path.c_str(), options.output_path.c_str()) != 0)
		fail("%s: %s", output_name(), strerror(errno));
	set_cleanup_path("");
}

void
write_listing(const std::vector<const Record *> &sorted, int64_t now)
{
	Layout layout = layout_of(options);
	// Lines gather in one buffer and go out in large writes.
	const size_t flush_at = 1 << 20;
	std::string out;
	add_line(out, title_line(options, now), layout.eol);
	add_line(out, "----- BEGIN", layout.eol);
	add_line(out, column_title(layout), layout.eol);
	std::string line(layout.record_length, ' ');
	for (const Record *r : sorted) {
		format_record(&line[0], *r, options.prefix, layout);
		add_line(out, line, layout.eol);
		if (out.size() >= flush_at) {
			write_all(out.data(), out.size());
			out.clear();
		}
	}
	add_line(out, "----- END", layout.eol);
	write_all(out.data(), out.size());
	finish_output();
}
