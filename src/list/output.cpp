#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "list/list.h"
#include "listing/markers.h"
#include "platform/replacing.h"
#include "platform/threads.h"
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

// Records go out a block at a time, each formatted on both processors:
// on one, formatting a re-snapshot's listing took a tenth of its time.
static const size_t block_records = 8192;
static const size_t two_thread_block = 1024;

static void
format_lines(char *out, const Record *const *records, size_t count, const Layout &layout)
{
	size_t eol_length = strlen(layout.eol);
	size_t line_length = layout.record_length + eol_length;
	for (size_t i = 0; i < count; i++) {
		char *line = out + i * line_length;
		format_record(line, *records[i], options.prefix, layout);
		memcpy(line + layout.record_length, layout.eol, eol_length);
	}
}

static void
format_block(std::string &block, const Record *const *records, size_t count, const Layout &layout)
{
	size_t line_length = layout.record_length + strlen(layout.eol);
	block.resize(count * line_length);
	if (count < two_thread_block || options.threads < 2) {
		format_lines(&block[0], records, count, layout);
		return;
	}
	run_halves(count, [&](size_t from, size_t to) {
		format_lines(&block[from * line_length], records + from, to - from, layout);
	});
}

void
write_listing(const std::vector<const Record *> &sorted, int64_t now)
{
	Layout layout = layout_of(options);
	std::string out;
	add_line(out, title_line(options, now), layout.eol);
	add_line(out, std::string(header_marker), layout.eol);
	add_line(out, column_title(layout), layout.eol);
	write_out(out);
	for (size_t at = 0; at < sorted.size(); at += block_records) {
		format_block(out, sorted.data() + at, std::min(block_records, sorted.size() - at), layout);
		write_out(out);
	}
	out.clear();
	add_line(out, std::string(trailer_marker), layout.eol);
	write_out(out);
	finish_output();
}
