// Re-snapshots: a file's hash is taken from an earlier listing of the
// tree when nothing can have changed the file since that listing read it.
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "list/list.h"
#include "listing/lines.h"
#include "listing/markers.h"
#include "listing/title.h"
#include "platform/tree.h"

// A file whose status changed this close to the time the earlier listing
// was taken may have changed after it was read: the title gives whole
// seconds, and file systems keep times coarser than the clock.
static const int64_t ctime_margin = 2;

// A record of the earlier listing in the index of its paths.  The index
// is open-addressed with twice as many slots as records: a lookup reads
// one slot and the record it points at, where a table of nodes read a
// bucket, a node and the record, and took a tenth of a re-snapshot.
struct IndexSlot {
	const char *record = nullptr;	// null: an empty slot
	uint32_t tag = 0;	// the upper half of the path's hash
	uint32_t path_length : 31;
	// A path listed twice, which no run of rowsift-list writes: its
	// hash is taken from neither record.
	uint32_t twice : 1;
};

struct EarlierListing {
	std::string name;
	std::string bytes;
	Title title;
	bool crlf = false;
	std::vector<IndexSlot> index;
	size_t indexed = 0;
	size_t path_at = 0;	// where a record's path begins
};

static EarlierListing earlier;

static void
read_whole(const std::string &path, std::string &bytes)
{
	FILE *in = fopen(path.c_str(), "rb");
	if (!in)
		list_fail("%s: %s", path.c_str(), strerror(errno));
	// Room for the whole file at once, where its size is known: growing
	// by doubling copied a large listing twice over.
	FileStatus st;
	if (path_status(path.c_str(), st) && st.kind == FileKind::regular)
		bytes.reserve(size_t(st.size) + 1);
	char buffer[1 << 16];
	size_t got;
	while ((got = fread(buffer, 1, sizeof buffer, in)) > 0)
		bytes.append(buffer, got);
	bool failed = ferror(in);
	fclose(in);
	if (failed)
		list_fail("%s: %s", path.c_str(), strerror(errno));
}

// The directories a title line names: what follows its time.  Blanks in
// them are escaped, so the first " UTC, of" is the one before them.
static std::string_view
roots_part(std::string_view title)
{
	size_t at = title.find(" UTC, of");
	return at == std::string_view::npos ? std::string_view() : title.substr(at);
}

// A copy of the tree (a backup, say) has the sizes and times of the
// original, but not always its content: hashes are taken over only for
// the directories the earlier listing was taken of, named alike.
static void
check_same_roots()
{
	const std::string &b = earlier.bytes;
	std::string_view old_title(b.data(), line_end(b.data(), b.size(), 0));
	if (roots_part(old_title) != roots_part(title_line(options, 0)))
		list_fail_usage("%s is a listing of other directories; hashes are taken only from a"
		    " listing of the same ones, named alike", earlier.name.c_str());
}

// The column-title line, where a listing says its layout.  A wrong one
// is refused when the listing is indexed.
static std::string_view
third_line(const std::string &b)
{
	size_t start = 0;
	for (int line = 0; line < 2 && start < b.size(); line++)
		start = next_line(b.data(), b.size(), line_end(b.data(), b.size(), start));
	if (start >= b.size())
		return {};
	return std::string_view(b).substr(start, line_end(b.data(), b.size(), start) - start);
}

EarlierLayout
read_earlier_listing(const std::string &path)
{
	earlier.name = path;
	read_whole(path, earlier.bytes);
	const std::string &b = earlier.bytes;
	size_t first_end = b.find('\n');
	earlier.crlf = first_end != std::string::npos && first_end > 0 && b[first_end - 1] == '\r';
	earlier.title = read_title(b.data(), b.size());
	const Title &t = earlier.title;
	EarlierLayout layout;
	layout.algorithm = t.found ? find_algorithm(t.algorithm) : nullptr;
	if (!layout.algorithm || !t.width_given)
		list_fail("%s: not a listing written by rowsift-list", path.c_str());
	if (t.width < 1 || t.width > max_width)
		list_fail("%s: its title line gives no width a listing can have", path.c_str());
	if (!t.taken_given)
		list_fail("%s: its title line doesn't say when it was taken", path.c_str());
	layout.width = t.width;
	layout.lf_only = !earlier.crlf;
	layout.content_only = !names_mode_column(third_line(b));
	return layout;
}

// The path in a record, its padding left out: a path never ends in a
// blank, which is escaped there.
static std::string_view
path_column(const char *record, size_t path_at, const Layout &layout)
{
	std::string_view path(record + path_at, size_t(layout.width));
	size_t end = path.find_last_not_of(' ');
	return path.substr(0, end == std::string_view::npos ? 0 : end + 1);
}

// The next line from pos, without its line end; false when no whole line
// is left.  proper_end tells whether it ends as the listing's lines do.
static bool
take_line(size_t &pos, const char *eol, std::string_view &line, bool &proper_end)
{
	const std::string &b = earlier.bytes;
	size_t eol_length = strlen(eol);
	size_t end = b.find('\n', pos);
	if (end == std::string::npos)
		return false;
	size_t next = end + 1;
	proper_end = next - pos >= eol_length && b.compare(next - eol_length, eol_length, eol) == 0;
	line = std::string_view(b).substr(pos, next - pos - (proper_end ? eol_length : 1));
	pos = next;
	return true;
}

[[noreturn]] static void
refuse_earlier(size_t line_number, const char *what)
{
	list_fail("%s: line %zu %s; no hash is taken from it", earlier.name.c_str(), line_number, what);
}

static uint64_t
hash_of_path(std::string_view path)
{
	return std::hash<std::string_view>()(path);
}

// The slot of the path, or the empty slot where it belongs.
static IndexSlot &
slot_of(std::string_view path)
{
	uint64_t hash = hash_of_path(path);
	uint32_t tag = uint32_t(hash >> 32);
	size_t mask = earlier.index.size() - 1;
	for (size_t at = size_t(hash) & mask;; at = (at + 1) & mask) {
		IndexSlot &slot = earlier.index[at];
		if (!slot.record || (slot.tag == tag && slot.path_length == path.size() &&
		    memcmp(slot.record + earlier.path_at, path.data(), path.size()) == 0))
			return slot;
	}
}

static void
add_to_index(const char *record, std::string_view path)
{
	IndexSlot &slot = slot_of(path);
	if (slot.record) {
		slot.twice = 1;
		return;
	}
	slot.record = record;
	slot.tag = uint32_t(hash_of_path(path) >> 32);
	slot.path_length = uint32_t(path.size()) & 0x7fffffffu;
	slot.twice = 0;
	earlier.indexed++;
}

static const IndexSlot *
find_in_index(std::string_view path)
{
	const IndexSlot &slot = slot_of(path);
	return slot.record ? &slot : nullptr;
}

// The listing must be whole and of one layout throughout, as rowsift
// would read it, before any hash is taken from it: a listing cut short
// or with lines past where its data ends is refused, not half used.
void
index_earlier_listing()
{
	check_same_roots();
	Layout layout = layout_of(options);
	const std::string &b = earlier.bytes;
	const size_t path_at = layout.hash_column + size_t(layout.hash_chars) + 3;
	size_t pos = 0, number = 0;
	std::string_view line;
	std::string title = column_title(layout);
	bool ended = false, proper_end;
	size_t slots = 2;
	while (slots < 2 * (b.size() / (layout.record_length + 1) + 1))
		slots *= 2;
	earlier.index.assign(slots, IndexSlot());
	earlier.path_at = path_at;
	while (take_line(pos, layout.eol, line, proper_end)) {
		number++;
		if (!proper_end)
			refuse_earlier(number, "doesn't end as the listing's other lines do");
		if (number == 1)
			continue;
		if (number == 2 && line != header_marker)
			refuse_earlier(number, "is not the \"----- BEGIN\" line");
		if (number == 3 && line != title)
			refuse_earlier(number, "is not the column-title line of its layout");
		if (number <= 3)
			continue;
		if (line == trailer_marker) {
			ended = true;
			break;
		}
		if (line.size() != layout.record_length || line.find(trailer_marker) != std::string_view::npos ||
		    line_end(line.data(), line.size(), 0) != line.size())
			refuse_earlier(number, "is not a record of the layout its title line gives");
		add_to_index(line.data(), path_column(line.data(), path_at, layout));
	}
	if (!ended)
		list_fail("%s: no \"----- END\" line ends it; it may be cut short, and no hash is taken from it",
		    earlier.name.c_str());
	if (pos != b.size())
		refuse_earlier(number + 1, "follows its \"----- END\" line");
}

static int
hex_value(char c)
{
	return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The record a full run would write, but for the hash and the status
// columns, must be the earlier one byte for byte: its path, size and
// modification time.  The earlier record must be a regular file's: a
// link's hash is of its text.  And the file's status must not have
// changed since some seconds before the earlier listing was taken; the
// status-change time can't be set back (but by setting back the clock),
// so a file rewritten and given its old time again is read.  The mode
// and owners are the walk's own, never the earlier listing's.
bool
reuse_earlier_hash(Record &r)
{
	if (earlier.indexed == 0 || !r.stat_known || r.changed > earlier.title.taken - ctime_margin)
		return false;
	// Each hashing thread writes its own.
	thread_local std::string candidate;
	Layout layout = layout_of(options);
	const size_t hash_chars = size_t(layout.hash_chars);
	const size_t hash_column = layout.hash_column;
	const size_t path_at = hash_column + hash_chars + 3;
	candidate.assign(layout.record_length, ' ');
	format_content_columns(&candidate[0], r);
	format_path(&candidate[0], r, options.prefix, layout);
	const IndexSlot *found = find_in_index(path_column(candidate.data(), path_at, layout));
	if (!found || found->twice)
		return false;
	const char *old = found->record;
	std::string_view old_hash(old + hash_column, hash_chars);
	if (memcmp(old, candidate.data(), mode_at) != 0 ||
	    (!layout.content_only && old[mode_at] != '-') ||
	    memcmp(old + hash_column + hash_chars, " | ", 3) != 0 || !is_real_hash(old_hash))
		return false;
	for (size_t i = 0; i < hash_chars / 2; i++)
		r.digest[i] = (unsigned char)(hex_value(old_hash[2 * i]) << 4 | hex_value(old_hash[2 * i + 1]));
	r.state = record_hashed;
	return true;
}
