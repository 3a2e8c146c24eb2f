#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "list/list.h"
#include "listing/markers.h"
#include "platform/replacing.h"
#include "platform/tree.h"

static int out_fd = 1;
static std::string temporary_path;
static std::string target_path;	// what -o names, its links followed

static void
leave_out(const FileStatus &st)
{
	OwnFile own;
	own.device = st.device;
	own.inode = st.inode;
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
		FileStatus st;
		if (!link_status(target.c_str(), st) || st.kind != FileKind::link)
			return target;
		std::string next;
		if (!read_link(target.c_str(), next))
			list_fail("%s: %s", path.c_str(), strerror(errno));
		target = next[0] == '/' ? next : directory_part(target) + next;
	}
	list_fail("%s: %s", path.c_str(), strerror(ELOOP));
}

// The listing only ever replaces a regular file of its own: renamed over
// a device or a FIFO it would take the place of /dev/null or of a pipe,
// and over one of several links it would part the file from the others.
static void
check_replaceable(const std::string &target)
{
	FileStatus st;
	if (!link_status(target.c_str(), st))
		return;
	const char *name = options.output_path.c_str();
	if (st.kind == FileKind::directory)
		list_fail("%s: %s", name, strerror(EISDIR));
	if (st.kind != FileKind::regular)
		list_fail("%s: not a regular file; a listing replaces only a regular file", name);
	if (st.links > 1)
		list_fail("%s: has %ju links; a listing replaces only a file with one",
		    name, uintmax_t(st.links));
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
	out_fd = create_hidden_file(dir + "." + base + ".XXXXXX", &temporary_path);
	if (out_fd < 0)
		list_fail("%s: %s", options.output_path.c_str(), strerror(errno));
	set_cleanup_path(temporary_path);
}

void
open_output()
{
	FileStatus st;
	if (options.output_path.empty()) {
		if (status_of(1, st) && st.kind == FileKind::regular)
			leave_out(st);
		return;
	}
	target_path = link_target(options.output_path);
	check_replaceable(target_path);
	// The file about to be replaced is left out too.
	if (path_status(target_path.c_str(), st))
		leave_out(st);
	open_temporary(target_path);
	if (!status_of(out_fd, st))
		list_fail("%s: %s", temporary_path.c_str(), strerror(errno));
	leave_out(st);
}

static const char *
output_name()
{
	return options.output_path.empty() ? "standard output" : options.output_path.c_str();
}

static void
write_out(const std::string &text)
{
	if (!write_all(out_fd, text.data(), text.size()))
		list_fail("%s: %s", output_name(), strerror(errno));
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
	if (!sync_and_close(out_fd))
		list_fail("%s: %s", output_name(), strerror(errno));
	// What stands under the name may have changed during the run.
	check_replaceable(target_path);
	if (!rename_file(temporary_path, target_path))
		list_fail("%s: %s", output_name(), strerror(errno));
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
	add_line(out, std::string(header_marker), layout.eol);
	add_line(out, column_title(layout), layout.eol);
	std::string line(layout.record_length, ' ');
	for (const Record *r : sorted) {
		format_record(&line[0], *r, options.prefix, layout);
		add_line(out, line, layout.eol);
		if (out.size() >= flush_at) {
			write_out(out);
			out.clear();
		}
	}
	add_line(out, std::string(trailer_marker), layout.eol);
	write_out(out);
	finish_output();
}
