#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "list/list.h"

static int out_fd = 1;
static std::string temporary_path;
static std::string target_path;	// what -o names, its links followed

static void
leave_out(const struct stat &st)
{
	OwnFile own;
	own.device = st.st_dev;
	own.inode = st.st_ino;
	own_files.push_back(own);
}

static std::string
directory_part(const std::string &path)
{
	size_t slash = path.rfind('/');
	return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file a name leads to: the name itself, or what its symbolic links
// name, link after link, so that the link stays and a dangling one gets
// its target created.
static std::string
link_target(const std::string &path)
{
	std::string target = path;
	for (int links = 0; links < 40; links++) {
		struct stat st;
		if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
			return target;
		std::vector<char> text(size_t(st.st_size) + 2);
		ssize_t n = readlink(target.c_str(), text.data(), text.size());
		if (n < 0 || size_t(n) >= text.size())
			fail("%s: %s", path.c_str(), strerror(n < 0 ? errno : EOVERFLOW));
		std::string next(text.data(), size_t(n));
		target = next[0] == '/' ? next : directory_part(target) + next;
	}
	fail("%s: %s", path.c_str(), strerror(ELOOP));
}

// The listing only ever replaces a regular file of its own: renamed over
// a device or a FIFO it would take the place of /dev/null or of a pipe,
// and over one of several links it would part the file from the others.
static void
check_replaceable(const std::string &target)
{
	struct stat st;
	if (lstat(target.c_str(), &st) != 0)
		return;
	const char *name = options.output_path.c_str();
	if (S_ISDIR(st.st_mode))
		fail("%s: %s", name, strerror(EISDIR));
	if (!S_ISREG(st.st_mode))
		fail("%s: not a regular file; a listing replaces only a regular file", name);
	if (st.st_nlink > 1)
		fail("%s: has %ju links; a listing replaces only a file with one",
		    name, uintmax_t(st.st_nlink));
}

// The listing is written under a hidden name beside its own and renamed
// into place when complete, so that a failed run never leaves half a
// listing under the name.  The hidden name is cut to fit NAME_MAX.
static void
open_temporary(const std::string &path)
{
	std::string dir = directory_part(path);
	std::string base = path.substr(dir.size());
	const size_t added = std::strlen("..XXXXXX");
	if (base.size() + added > NAME_MAX)
		base.resize(NAME_MAX - added);
	std::string name = dir + "." + base + ".XXXXXX";
	std::vector<char> writable(name.begin(), name.end());
	writable.push_back('\0');
	out_fd = mkstemp(writable.data());
	if (out_fd < 0)
		fail("%s: %s", options.output_path.c_str(), strerror(errno));
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
	target_path = link_target(options.output_path);
	check_replaceable(target_path);
	// The file about to be replaced is left out too.
	if (stat(target_path.c_str(), &st) == 0)
		leave_out(st);
	open_temporary(target_path);
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
	// What stands under the name may have changed during the run.
	check_replaceable(target_path);
	if (rename(temporary_path.c_str(), target_path.c_str()) != 0)
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
