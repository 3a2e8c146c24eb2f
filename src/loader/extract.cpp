#include "loader/extract.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "listing/columns.h"
#include "listing/lines.h"
#include "listing/markers.h"
#include "listing/title.h"
#include "loader/algorithm.h"
#include "loader/column_names.h"
#include "loader/count.h"
#include "loader/inputs.h"
#include "output/messages.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "run_state.h"

// The start of the first line that begins after `after`, no later than
// `limit`, and holds the marker; -1 when there is none.
static long
find_line_with(const char *data, size_t length, size_t after, size_t limit,
    std::string_view marker, std::string_view other)
{
	size_t start = after;
	while (start <= limit && start < length) {
		size_t end = line_end(data, length, start);
		if (line_contains(data, start, end, marker) ||
		    (!other.empty() && line_contains(data, start, end, other)))
			return long(start);
		start = end + 1;
	}
	return -1;
}

long
find_start_position(const char *data, size_t length)
{
	// A position inside a line sees only the rest of that line, so the
	// first position that holds a marker is always a line start.
	long found = find_line_with(data, length, 0, header_search_limit,
	    header_marker, column_title_marker);
	if (found < 0)
		return -1;
	size_t end = line_end(data, length, size_t(found));
	if (line_contains(data, size_t(found), end, column_title_marker))
		return found;
	long title = find_line_with(data, length, end + 1, title_search_limit,
	    column_title_marker, {});
	return title < 0 ? found : title;
}

// The number of the line that begins at pos, counting lines as the loader
// cuts them.
static uint64_t
line_number_at(const char *data, size_t n, size_t pos)
{
	uint64_t line = 1;
	for (size_t at = 0; at < pos; line++)
		at = next_line(data, n, line_end(data, n, at));
	return line;
}

[[noreturn]] static void
fail_no_header(const Listing &l)
{
	fail("\n\nThere doesn't seem to be a header on %s.\n"
	    "Please check it for proper headers. Proper header is:\n"
	    "%.*s%c\n"
	    "Be certain the 5 dashes begin the line, and\n"
	    "They must be within the 1st 500 characters of the file\n"
	    "Or check out the -x option, for files without headers\n", l.name,
	    int(header_marker.size()), header_marker.data(), 7);
}

static void
add_record(RecordTable &table, uint64_t &count, char *record)
{
	if (count >= table.capacity)
		grow_table(table, count);
	table.entries[count++] = record;
}

// The first line of a listing without headers is a record whatever its
// length, so it gets a copy of its own that ends in a zero byte: a compare
// field that starts past its end reads zeros, not the next line.
static char *
copy_unheaded_first(Listing &l, const char *record, size_t own_length, size_t record_length)
{
	char *copy = static_cast<char *>(calloc(std::max(own_length, record_length) + 1, 1));
	if (!copy)
		fail_table_memory();
	memcpy(copy, record, own_length);
	l.unheaded_first = copy;
	return copy;
}

// Record lengths are ints throughout; a longer record is refused rather
// than reported with a length that wrapped around.
static void
refuse_overlong_records(const Listing &l, size_t record_length)
{
	if (record_length > size_t(INT_MAX))
		fail("\nThe records of %s are %zu characters long, more than the %d"
		    " a record may have\n", l.name, record_length, INT_MAX);
}

// The change report pairs records by their columns, so that listings of
// two path widths compare: listing 2 may have another record length when
// both are rowsift-list listings whose first records hold their columns
// at the same places up to the path.
static bool
columns_alike(const Listing &l, const char *record, size_t record_length)
{
	const Listing &first = listings[0];
	if (!settings.change_report || settings.no_headers || l.number != 2 || first.count == 0 ||
	    first.algorithm.empty() || l.algorithm.empty() || record_length == 0)
		return false;
	Columns one = locate_columns(first.table.entries[0], first.record_length);
	Columns two = locate_columns(record, int(record_length));
	return one.hash_start >= 0 && one.hash_start == two.hash_start &&
	    one.hash_length == two.hash_length && one.path_start == two.path_start &&
	    one.path_start < first.record_length && two.path_start < int(record_length);
}

static void
check_record_length(const Listing &l, const char *record, int expected_length)
{
	if (expected_length != 0 && expected_length != l.record_length &&
	    !columns_alike(l, record, size_t(l.record_length)))
		fail("The input files have different record lengths\n"
		    "Please verify files are consistant formats and rerun program\n");
}

// Where a scan of the records stopped, and whether the data ended there.
struct Scan {
	size_t pos;
	bool ended;
};

// The lines of another length a scan passed over: how many, and where the
// first begins.
struct PassedOver {
	uint64_t lines = 0;
	size_t first = SIZE_MAX;
};

static void
add_passed_over(PassedOver &passed, const PassedOver &more)
{
	passed.lines += more.lines;
	passed.first = std::min(passed.first, more.first);
}

typedef char Block __attribute__((vector_size(16)));

static Block
load_block(const char *p)
{
	Block b;
	memcpy(&b, p, sizeof b);
	return b;
}

static bool
any_set(Block b)
{
	uint64_t half[2];
	memcpy(half, &b, sizeof half);
	return (half[0] | half[1]) != 0;
}

// Whether a line of `length` bytes, followed by a line end, holds no other
// line end and no "--" (without which it can't be the trailer): most
// lines of a listing, tested sixteen bytes at a time.  length is at least
// sixteen.
static bool
is_plain_line(const char *p, size_t length)
{
	Block found = {};
	for (size_t i = 0;; i = std::min(i + 16, length - 16)) {
		Block b = load_block(p + i);
		found |= (b == '\n') | (b == '\r') | (b == 0) | ((b == '-') & (load_block(p + i + 1) == '-'));
		if (i == length - 16)
			return !any_set(found);
	}
}

// The data is fetched a page ahead of the scan: the processor's own
// prefetching stops at the end of every page.
static const size_t scan_ahead = 4096;

// Adds the records from pos on to the table until the data ends or the
// next line would start at or past `stop`.
static Scan
scan_records(char *data, size_t n, size_t pos, size_t stop, size_t record_length,
    RecordTable &table, uint64_t &count, PassedOver &passed)
{
	bool plain_lines = record_length >= 16;
	while (pos < stop) {
		__builtin_prefetch(data + pos + scan_ahead);
		if (plain_lines && pos + record_length < n && is_line_end(data[pos + record_length]) &&
		    is_plain_line(data + pos, record_length)) {
			add_record(table, count, data + pos);
			pos = next_line(data, n, pos + record_length);
			continue;
		}
		size_t end = line_end(data, n, pos);
		if (line_contains(data, pos, end, trailer_marker) || end - pos <= short_line)
			return { pos, true };
		if (end - pos == record_length) {
			add_record(table, count, data + pos);
			pos = next_line(data, n, end);
		} else {
			// A line of another length is passed over with every empty
			// line that follows it.
			add_passed_over(passed, { 1, pos });
			while (end < n && is_line_end(data[end]))
				end++;
			if (end >= n)
				return { end, true };
			pos = end;
		}
	}
	return { pos, false };
}

// Adds the records from pos on as scan_records does, by the line ends the
// count noted: a line it found plain is a record when it has the record
// length, without a byte of it read; any other line is cut byte by byte,
// and those after it until a line start the count noted.
static Scan
scan_noted_lines(char *data, size_t n, size_t pos, size_t stop, size_t record_length,
    const LineEnds &lines, RecordTable &table, uint64_t &count, PassedOver &passed)
{
	const uint32_t *ends = lines.ends;
	// The line that holds pos, and the first odd line from it on.
	uint64_t i = uint64_t(std::lower_bound(ends, ends + lines.count, pos) - ends);
	uint64_t odd = uint64_t(std::lower_bound(lines.odd, lines.odd + lines.odd_count, i) -
	    lines.odd);
	size_t span = record_length + (lines.cr_lf ? 2 : 1);	// with its line end
	bool records_plain = record_length > short_line;
	while (i < lines.count && pos < stop) {
		size_t start = i ? size_t(ends[i - 1]) + 1 : 0;
		bool plain = odd == lines.odd_count || lines.odd[odd] != i;
		if (start == pos && plain && records_plain && size_t(ends[i]) + 1 - start == span) {
			add_record(table, count, data + pos);
			pos = size_t(ends[i]) + 1;
			i++;
			continue;
		}
		Scan one = scan_records(data, n, pos, pos + 1, record_length, table, count, passed);
		if (one.ended)
			return one;
		pos = one.pos;
		while (i < lines.count && ends[i] < pos)
			i++;
		while (odd < lines.odd_count && lines.odd[odd] < i)
			odd++;
	}
	if (pos >= stop)
		return { pos, false };
	// The last line, which no LF ends.
	return scan_records(data, n, pos, stop, record_length, table, count, passed);
}

// By the line ends the count noted, when it noted them for this data.
static Scan
scan_lines(const Listing &l, size_t n, size_t pos, size_t stop, size_t record_length,
    RecordTable &table, uint64_t &count, PassedOver &passed)
{
	if (l.lines.ends && l.lines.size == n)
		return scan_noted_lines(l.buffer, n, pos, stop, record_length, l.lines, table, count,
		    passed);
	return scan_records(l.buffer, n, pos, stop, record_length, table, count, passed);
}

// From this much data on, a listing is scanned in two halves at once.
static const size_t split_size = 8 << 20;

// Scans the second half on a second thread from a line start guessed near
// the middle; what it finds counts when the scan of the first half gets
// there.  False when the guess is no line start to scan from; else *end
// is where the data ended.
static bool
scan_in_two(Listing &l, size_t n, size_t pos, size_t record_length, PassedOver &passed,
    size_t *end)
{
	char *data = l.buffer;
	size_t guess = next_line(data, n, line_end(data, n, pos + (n - pos) / 2));
	if (guess >= n || is_line_end(data[guess]))
		return false;
	// Every record takes its length and a line end, so the table of the
	// second half never grows.
	RecordTable second;
	second.capacity = (n - guess) / (record_length + 1) + 1;
	second.entries = static_cast<char **>(malloc(second.capacity * sizeof(char *)));
	if (!second.entries)
		return false;
	uint64_t second_count = 0;
	PassedOver second_passed;
	Scan first, rest;
	run_two([&] {
		rest = scan_lines(l, n, guess, SIZE_MAX, record_length, second, second_count,
		    second_passed);
	}, [&] { first = scan_lines(l, n, pos, guess, record_length, l.table, l.count, passed); });
	// The first scan stops at the guess unless the data ends before: the
	// guess starts a line that is not empty, and the scan stops at every
	// such line.  Should a listing prove otherwise, the first scan goes on.
	if (!first.ended && first.pos == guess) {
		while (l.table.capacity < l.count + second_count)
			grow_table(l.table, l.table.capacity);
		std::copy(second.entries, second.entries + second_count, l.table.entries + l.count);
		l.count += second_count;
		add_passed_over(passed, second_passed);
		*end = rest.pos;
	} else if (!first.ended) {
		*end = scan_lines(l, n, first.pos, SIZE_MAX, record_length, l.table, l.count,
		    passed).pos;
	} else {
		*end = first.pos;
	}
	free(second.entries);
	return true;
}

// Past the line where the data ended, up to the next trailer line:
// whether there is one, and the lines that look like the records the data
// would have gone on with, the lines of the record length (or, when the
// data ended before its first record, of the first line too long to end
// it).  A cut-short listing or one stray empty line would otherwise lose
// them in silence.
static void
look_past_the_data(Listing &l, const char *data, size_t n, size_t pos, size_t record_length)
{
	size_t end = line_end(data, n, pos);
	if (pos < n && line_contains(data, pos, end, trailer_marker)) {
		l.trailer_found = true;
		return;
	}
	size_t length = record_length > short_line ? record_length : 0;
	uint64_t lines = 0;
	for (size_t at = next_line(data, n, end); at < n; at = next_line(data, n, end)) {
		end = line_end(data, n, at);
		if (line_contains(data, at, end, trailer_marker)) {
			l.trailer_found = true;
			break;
		}
		if (length == 0 && end - at > short_line)
			length = end - at;
		if (end - at == length)
			lines++;
	}
	l.past_the_end = lines;
	if (lines)
		l.data_end_line = line_number_at(data, n, pos);
}

// The listing of an empty directory: its first data line is the trailer
// line, or the file ends before it.  Without headers the
// first line is a record, so such a listing has none.
static bool
has_no_data_lines(const char *data, size_t n, size_t pos, Headers headers)
{
	return headers == with_headers && (pos >= n ||
	    line_contains(data, pos, line_end(data, n, pos), trailer_marker));
}

void
extract_records(Listing &l, size_t n, Headers headers, int expected_length, bool two_threads)
{
	char *data = l.buffer;
	size_t pos;
	size_t first_end = 0;
	if (headers == without_headers) {
		first_end = line_end(data, n, 0);
		pos = 0;
	} else {
		long start = find_start_position(data, n);
		if (start < 0)
			fail_no_header(l);
		pos = size_t(start);
		l.column_title = read_column_title(data, n, pos);
	}
	// Two layouts have other record lengths too: their columns say more.
	if (l.number == 2)
		refuse_mixed_columns(listings[0], l);
	size_t end = line_end(data, n, pos);
	pos = next_line(data, n, end);
	size_t record_length = line_end(data, n, pos) - pos;
	// A listing without data lines compares with any other: it takes the
	// other's record length, or leaves it to the other when loaded first.
	if (has_no_data_lines(data, n, pos, headers))
		record_length = size_t(expected_length);
	refuse_overlong_records(l, record_length);
	l.record_length = int(record_length);
	check_record_length(l, data + pos, expected_length);
	if (headers == without_headers)
		add_record(l.table, l.count, copy_unheaded_first(l, data, first_end, record_length));
	PassedOver passed;
	size_t data_end;
	if (!two_threads || n - pos < split_size ||
	    !scan_in_two(l, n, pos, record_length, passed, &data_end))
		data_end = scan_lines(l, n, pos, SIZE_MAX, record_length, l.table, l.count,
		    passed).pos;
	forget_line_ends(l.lines);
	look_past_the_data(l, data, n, data_end, record_length);
	l.passed_over = passed.lines;
	if (passed.lines)
		l.first_passed_over_line = line_number_at(data, n, passed.first);
}

uint64_t
peek_first_records(const Listing &l, int record_length, char **records, uint64_t most)
{
	if (!l.mapped_when_counted || l.buffer == nullptr || settings.no_headers)
		return 0;
	char *data = l.buffer;
	size_t n = size_t(l.size);
	long start = find_start_position(data, n);
	if (start < 0)
		return 0;
	size_t pos = next_line(data, n, line_end(data, n, size_t(start)));
	if (line_end(data, n, pos) - pos != size_t(record_length) || record_length == 0)
		return 0;
	// Enough lines for `most` records, each with a CR LF, and no more.
	size_t stop = std::min(n, pos + size_t(most) * (size_t(record_length) + 2));
	RecordTable table;
	uint64_t count = 0;
	PassedOver passed;
	scan_records(data, n, pos, stop, size_t(record_length), table, count, passed);
	count = std::min(count, most);
	std::copy(table.entries, table.entries + count, records);
	free(table.entries);
	return count;
}

// Blanks after the path pad it to the width, so records padded to one
// length are the same byte for byte exactly when their columns, trimmed
// of those blanks, are.
void
widen_records(Listing &l, int record_length)
{
	size_t length = size_t(record_length);
	// Where a record lies is kept in 32 bits by the partner table.
	if (l.count * length >= UINT32_MAX)
		fail_table_memory();
	l.widened = static_cast<char *>(malloc(std::max<size_t>(l.count * length, 1)));
	if (!l.widened)
		fail_table_memory();
	size_t own = size_t(l.record_length);
	for (uint64_t i = 0; i < l.count; i++) {
		char *copy = l.widened + i * length;
		memcpy(copy, l.table.entries[i], own);
		memset(copy + own, ' ', length - own);
		l.table.entries[i] = copy;
	}
	l.record_length = record_length;
}

void
fail_read(const Listing &l)
{
	fail("\nCan't read %s file\n", l.name);
}

static void
check_unchanged(const Listing &l)
{
	if (input_lost(l.buffer))
		fail_read(l);
	// What was read of a pipe is the listing whatever is written to it
	// now.
	if (is_stream(l.identity) || same_input(l.identity, identify_input(l.handle)))
		return;
	if (settings.output_requested)
		write_text(log_stream, "\nInput file %s changed while it was compared\n", l.name);
	fail("\nInput file %s changed while it was compared\n", l.name);
}

void
check_inputs_unchanged(const Listing &first, const Listing &second)
{
	check_unchanged(first);
	check_unchanged(second);
}

static size_t
read_listing(Listing &l)
{
	int message = write_error("Reading %lld bytes from %s into memory",
	    (long long)l.size, l.name);
	// A file that shrank since it was sized is read as far as it goes now.
	// A pipe was read when it was counted, or its read failed then.
	uint64_t size = l.mapped_when_counted ? l.size : std::min(l.size, input_size(l.handle));
	bool mapped = l.mapped_when_counted ||
	    (!is_stream(l.identity) && map_input(l.handle, l.buffer, size));
	if (!mapped)
		fail_read(l);
	erase_transient(message);
	return size_t(size);
}

// A listing that may be cut short, or holds records past where its data
// ended, would report the files it lost as removed.
void
refuse_incomplete(const Listing &l, Headers headers)
{
	if (headers == with_headers && !l.trailer_found)
		fail("\n%s has no \"%.*s\" line; it may be cut short\n", l.name,
		    int(trailer_marker.size()), trailer_marker.data());
	if (l.past_the_end)
		fail("\n%s has %llu line%s of the record length after its data ended at line %llu\n",
		    l.name, (unsigned long long)l.past_the_end, l.past_the_end == 1 ? "" : "s",
		    (unsigned long long)l.data_end_line);
}

void
load_listing(Listing &l, Headers headers, int expected_length, bool two_threads)
{
	l.count = 0;
	size_t n = read_listing(l);
	int message = write_error("Processing %s", l.name);
	l.algorithm = read_title(l.buffer, n).algorithm;
	extract_records(l, n, headers, expected_length, two_threads);
	if (input_lost(l.buffer))
		fail_read(l);
	if (l.count > max_records)
		fail("%s has too many records\n"
		    "Maximum of %ld records per file are allowed\n", l.name, long(max_records));
	l.progress_step = l.count <= 10 ? 2 : int(l.count / 10);
	erase_transient(message);
}
