// Record extraction on in-memory listings.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "loader/extract.h"
#include "loader/count.h"
#include "loader/inputs.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "run_state.h"

namespace {

// A listing loaded from bytes, as the loader sees them after the read.
struct Loaded {
	std::vector<char> buffer;
	Listing listing;
	Loaded() = default;
	Loaded(Loaded &&other) : buffer(std::move(other.buffer)), listing(other.listing)
	{
		other.listing.table.entries = nullptr;
		other.listing.unheaded_first = nullptr;
		other.listing.count = 0;
	}
	~Loaded()
	{
		free(listing.unheaded_first);
		free(listing.table.entries);
	}
	std::vector<std::string> records() const
	{
		std::vector<std::string> out;
		// Records carry no end of their own; the first line without
		// headers is a string in a copy of its own.
		for (uint64_t i = 0; i < listing.count; i++) {
			const char *r = listing.table.entries[i];
			out.push_back(r == listing.unheaded_first ? std::string(r) :
			    std::string(r, size_t(listing.record_length)));
		}
		return out;
	}
};

// With `noted`, the lines are cut by the line ends a count noted, as a
// file mapped when it was counted is.
Loaded
extract(const std::string &bytes, bool no_headers = false, size_t table = 4,
    bool two_threads = false, bool noted = false)
{
	Loaded l;
	l.buffer.assign(bytes.size() + 4096, '\0');
	bytes.copy(l.buffer.data(), bytes.size());
	l.listing = empty_listing(1);
	l.listing.name = "t.txt";
	l.listing.buffer = l.buffer.data();
	l.listing.table.entries = static_cast<char **>(malloc(table * sizeof(char *)));
	l.listing.table.capacity = table;
	if (noted)
		count_noting_line_ends(l.buffer.data(), bytes.size(), l.listing.lines);
	extract_records(l.listing, bytes.size(), no_headers ? without_headers : with_headers, 0,
	    two_threads);
	return l;
}

std::string
crlf(const std::vector<std::string> &lines)
{
	std::string text;
	for (const std::string &line : lines)
		text += line + "\r\n";
	return text;
}

const std::string r60(60, 'a');

std::string
format_record(int i)
{
	std::string text = std::to_string(i);
	return text + std::string(60 - text.size(), 'r');
}

} // namespace

TEST(Extract, SkipsLinesOfAnotherLength)
{
	std::string r60b(60, 'b'), r60c(60, 'c'), r60d(60, 'd');
	Loaded l = extract(crlf({ "free text title", "----- BEGIN", "  SIZE  |  PATH  ",
	    r60, r60b, r60c, std::string(58, 'x'), r60d, "----- END", r60 }));
	EXPECT_EQ(l.listing.record_length, 60);
	EXPECT_EQ(l.records(), (std::vector<std::string>{ r60, r60b, r60c, r60d }));
	// Counted and placed for the note; the header lines and what follows
	// the trailer are no data.
	EXPECT_EQ(l.listing.passed_over, 1u);
	EXPECT_EQ(l.listing.first_passed_over_line, 7u);
}

TEST(Extract, DataStartsAfterTheColumnTitleOrTheHeader)
{
	Loaded with_title = extract(crlf({ "----- BEGIN", "x  PATH  x", "12345678" }));
	EXPECT_EQ(with_title.records(), (std::vector<std::string>{ "12345678" }));
	Loaded title_only = extract(crlf({ "title", "a  PATH  b", "12345678" }));
	EXPECT_EQ(title_only.records(), (std::vector<std::string>{ "12345678" }));
	Loaded header_only = extract(crlf({ "----- BEGIN", "12345678", "87654321" }));
	EXPECT_EQ(header_only.records(), (std::vector<std::string>{ "12345678", "87654321" }));
}

TEST(Extract, ColumnTitleIsLookedForUpToByte2000)
{
	std::string filler = std::string(1985, 'f');
	// "----- BEGIN\r\n" is 13 bytes, so the title line starts at 2000 and
	// then at 2001.
	Loaded found = extract(crlf({ "----- BEGIN", filler, "  PATH  ", "12345678" }));
	EXPECT_EQ(found.records(), (std::vector<std::string>{ "12345678" }));
	Loaded passed = extract(crlf({ "----- BEGIN", filler + "g", "  PATH  ", "12345678" }));
	EXPECT_EQ(passed.listing.record_length, 1986);
	EXPECT_EQ(passed.listing.count, 1u);
}

TEST(Extract, HeaderMustBeginByByte1000)
{
	std::string at1000 = std::string(998, 'f') + "\r\n----- BEGIN\r\n12345678\r\n";
	EXPECT_EQ(find_start_position(at1000.data(), at1000.size()), 1000);
	std::string at1001 = std::string(999, 'f') + "\r\n----- BEGIN\r\n12345678\r\n";
	EXPECT_EQ(find_start_position(at1001.data(), at1001.size()), -1);
	// A marker in a line that began earlier is still found from its start.
	std::string late_marker = std::string(990, 'f') + "----- BEGIN\r\n";
	EXPECT_EQ(find_start_position(late_marker.data(), late_marker.size()), 0);
}

TEST(Extract, DataEndsAtTrailerShortLineOrEmptyLineAfterARecord)
{
	EXPECT_EQ(extract(crlf({ "----- BEGIN", "123456", "123456", "----- END", "123456" })).listing.count, 2u);
	EXPECT_EQ(extract(crlf({ "----- BEGIN", "123456", "12345", "123456" })).listing.count, 1u);
	EXPECT_EQ(extract(crlf({ "----- BEGIN", "123456", "", "123456" })).listing.count, 1u);
	// Empty lines after a skipped line go with it.
	EXPECT_EQ(extract(crlf({ "----- BEGIN", "123456", "1234567", "", "", "123456" })).listing.count, 2u);
	// Without a trailer the data ends with the file, with or without a
	// last line end.
	EXPECT_EQ(extract("----- BEGIN\r\n123456\r\n654321").listing.count, 2u);
}

// Where the data ends short of a "----- END" line, what follows up to one
// is looked at: lines of the record length there are records the data
// lost, and without one at all the listing may be cut short.
TEST(Extract, WhatFollowsTheEndOfTheData)
{
	struct Case {
		std::string bytes;
		uint64_t records, past_the_end, data_end_line;
		bool trailer_found;
	} cases[] = {
		{ crlf({ "----- BEGIN", "123456", "123456", "----- END", "123456" }), 2, 0, 0, true },
		// One stray empty line; a line of another length is no record.
		{ crlf({ "----- BEGIN", "123456", "", "123456", "1234567", "123456", "----- END",
		    "123456" }), 1, 2, 3, true },
		{ crlf({ "----- BEGIN", "123456", "12345", "123456" }), 1, 1, 3, false },
		{ "----- BEGIN\r\n123456\r\n654321", 2, 0, 0, false },
		// A second CR in every line end: every record follows an empty line,
		// the first at the data's start.
		{ "----- BEGIN\r\r\n123456\r\r\n654321\r\r\n----- END\r\r\n", 0, 2, 2, true },
	};
	for (const Case &c : cases) {
		Loaded l = extract(c.bytes);
		EXPECT_EQ(l.listing.count, c.records) << c.bytes;
		EXPECT_EQ(l.listing.past_the_end, c.past_the_end) << c.bytes;
		EXPECT_EQ(l.listing.data_end_line, c.data_end_line) << c.bytes;
		EXPECT_EQ(l.listing.trailer_found, c.trailer_found) << c.bytes;
	}
}

// The listing of an empty directory takes the record length of the other
// listing, or none when it is loaded first.
TEST(Extract, ListingWithoutDataLinesTakesTheOtherRecordLength)
{
	for (const std::string &bytes : { crlf({ "title", "----- BEGIN", "  PATH  ", "----- END" }),
	    crlf({ "title", "----- BEGIN", "  PATH  " }) }) {
		Loaded first = extract(bytes);
		EXPECT_EQ(first.listing.record_length, 0);
		Loaded l;
		l.listing = empty_listing(2);
		l.buffer.assign(bytes.begin(), bytes.end());
		l.buffer.resize(bytes.size() + 1024);
		l.listing.buffer = l.buffer.data();
		extract_records(l.listing, bytes.size(), with_headers, 60);
		EXPECT_EQ(l.listing.record_length, 60);
		EXPECT_EQ(l.listing.count, 0u);
	}
}

TEST(Extract, LineEndsOfEveryKind)
{
	Loaded lf = extract("----- BEGIN\n123456\n654321\n");
	EXPECT_EQ(lf.records(), (std::vector<std::string>{ "123456", "654321" }));
	// Two LFs are two line ends: the empty line between ends the data.
	Loaded lf_empty = extract("----- BEGIN\n123456\n\n654321\n");
	EXPECT_EQ(lf_empty.records(), (std::vector<std::string>{ "123456" }));
	Loaded cr = extract("----- BEGIN\r123456\r654321\r");
	EXPECT_EQ(cr.records(), (std::vector<std::string>{ "123456", "654321" }));
	Loaded nul = extract(std::string("----- BEGIN\r\n123456\0" "654321\r\n", 28));
	EXPECT_EQ(nul.records(), (std::vector<std::string>{ "123456", "654321" }));
	// A lone LF among CR LF lines no longer shortens the next line.
	Loaded mixed = extract("----- BEGIN\r\n123456\n654321\r\n");
	EXPECT_EQ(mixed.records(), (std::vector<std::string>{ "123456", "654321" }));
}

// Lines of the record length are cut sixteen bytes at a time unless they
// hold a line end or "--"; these must come out as a byte-by-byte cut has
// them, at every position of a record longer than sixteen.
TEST(Extract, LinesOfTheRecordLengthWithALineEndOrTrailerInside)
{
	const std::string first(20, 'f'), last(20, 'l');
	for (char end : { '\r', '\n', '\0' }) {
		for (size_t k = 0; k < 20; k++) {
			std::string line(20, 'x');
			line[k] = end;
			Loaded l = extract(crlf({ "----- BEGIN", first, line, last }));
			// Cut in two: a piece of five bytes or fewer ends the data,
			// longer ones are passed over with the line ends after them.
			std::vector<std::string> expected{ first };
			if (k > 5 && (19 - k > 5 || k == 19))
				expected.push_back(last);
			EXPECT_EQ(l.records(), expected) << "byte " << int(end) << " at " << k;
		}
	}
	std::string trailer = "----- END" + std::string(11, ' ');
	EXPECT_EQ(extract(crlf({ "----- BEGIN", first, trailer, last })).records(),
	    (std::vector<std::string>{ first }));
	for (size_t k = 0; k < 19; k++) {
		std::string dashes(20, 'x');
		dashes[k] = dashes[k + 1] = '-';
		EXPECT_EQ(extract(crlf({ "----- BEGIN", first, dashes, last })).records(),
		    (std::vector<std::string>{ first, dashes, last })) << "dashes at " << k;
	}
	// The last line, without a line end after it.
	EXPECT_EQ(extract("----- BEGIN\r\n" + first + "\r\n" + last).records(),
	    (std::vector<std::string>{ first, last }));
}

TEST(Extract, WithoutHeadersTheFirstLineIsAlwaysARecord)
{
	Loaded l = extract(crlf({ "abc", "123456", "654321", "----- END", "999999" }), true);
	EXPECT_EQ(l.listing.record_length, 6);
	EXPECT_EQ(l.records(), (std::vector<std::string>{ "abc", "123456", "654321" }));
	// The short first record reads as zeros past its end.
	EXPECT_EQ(std::string(l.listing.table.entries[0], 7), std::string("abc\0\0\0\0", 7));
	Loaded empty = extract("", true);
	EXPECT_EQ(empty.listing.count, 1u);
	EXPECT_EQ(empty.listing.record_length, 0);
}

TEST(Extract, TableGrowsPastTheCountedLines)
{
	std::string data = "----- BEGIN\r\n";
	for (int i = 0; i < 50; i++)
		data += "12345678\r";
	Loaded l = extract(data, false, 2);
	EXPECT_EQ(l.listing.count, 50u);
	EXPECT_GE(l.listing.table.capacity, 50u);
}

// A large listing scanned in two halves at once gives what one scan gives,
// wherever its middle falls: on a record, inside a line of another length
// or its empty lines, after a lone CR or LF, or past a trailer.
TEST(Extract, TwoHalvesFindWhatOneScanFinds)
{
	std::mt19937 draw(3);
	for (int trial = 0; trial < 16; trial++) {
		std::string data = "----- BEGIN\r\n";
		size_t middle = 9u << 19;
		for (int i = 0; data.size() < 2 * middle; i++) {
			std::string record = format_record(i);
			bool near_middle = data.size() + 4096 > middle && data.size() < middle + 4096;
			unsigned kind = near_middle ? draw() % 10 : 0;
			if (kind < 6)
				data += record + "\r\n";
			else if (kind == 6)
				data += record + (draw() % 2 ? "\r" : "\n");
			else
				data += record + "+ another length\r\n" + std::string(draw() % 3 * 2, '\n');
			if (trial == 0 && i == 1000)
				data += "----- END\r\n";
			if (trial == 1 && near_middle && kind == 9)
				data += "----- END\r\n";
			if (trial == 2 && i == 60000)
				data += "\r\n";
		}
		Loaded one = extract(data, false, 4, false);
		// In two halves, byte by byte and by the noted line ends.
		for (bool noted : { false, true }) {
			Loaded two = extract(data, false, 4, true, noted);
			ASSERT_EQ(one.records(), two.records()) << "trial " << trial;
			ASSERT_EQ(one.listing.passed_over, two.listing.passed_over) << "trial " << trial;
			ASSERT_EQ(one.listing.first_passed_over_line,
			    two.listing.first_passed_over_line);
			// Where the data ended, and what follows it.
			ASSERT_EQ(one.listing.past_the_end, two.listing.past_the_end) << "trial " << trial;
			ASSERT_EQ(one.listing.data_end_line, two.listing.data_end_line) << "trial " << trial;
			ASSERT_EQ(one.listing.trailer_found, two.listing.trailer_found) << "trial " << trial;
		}
	}
}

// Lines as a 1024-character line reader counts them (see count.h).
int64_t
reader_lines(const std::string &data)
{
	int64_t lines = 0;
	size_t start = 0;
	for (size_t end; (end = data.find('\n', start)) != std::string::npos; start = end + 1)
		lines += int64_t((end - start) / 1023) + 1;
	return lines + int64_t((data.size() - start + 1022) / 1023);
}

// A line the count found plain is taken for a record without its bytes
// read again; every listing must come out as a cut byte by byte has it:
// lines with a lone CR or LF, a zero byte or "--" at any place (across
// the count's blocks too), of another length, another line end than the
// first line's, empty, short, over 1023 characters, and trailers.
TEST(Extract, NotedLineEndsCutAsTheBytesDo)
{
	std::mt19937 draw(5);
	const char odd_bytes[] = { '\r', '\n', '\0', '-' };
	for (int trial = 0; trial < 400; trial++) {
		bool cr_lf = trial % 4 != 3;
		size_t length = 6 + draw() % 60;
		std::string end = cr_lf ? "\r\n" : "\n";
		std::string data = "title" + end + "----- BEGIN" + end;
		int lines = 1 + int(draw() % 200);
		for (int i = 0; i < lines; i++) {
			std::string line(length, 'a' + char(i % 26));
			unsigned kind = draw() % 40;
			if (kind == 0)
				line[draw() % length] = odd_bytes[draw() % 4];
			else if (kind == 1)
				line.replace(draw() % (length - 1), 2, "--");
			else if (kind == 2)
				line.resize(draw() % (length + 8));
			else if (kind < 8)
				line.resize(length + draw() % 3 - 1, 'y');
			else if (kind == 3)
				line = "----- END";
			else if (kind == 4)
				line.resize(1023 + draw() % 1100, 'z');
			std::string line_end = end;
			if (draw() % 10 == 0)
				line_end = draw() % 2 ? "\r" : (cr_lf ? "\n" : "\r\n");
			data += line + line_end;
		}
		if (draw() % 4 == 0)
			data += "----- END" + end;
		if (draw() % 4 == 0)
			data += std::string(length, 'q');
		Loaded bytes = extract(data);
		Loaded noted = extract(data, false, 4, false, true);
		ASSERT_EQ(bytes.listing.record_length, noted.listing.record_length) << trial;
		ASSERT_EQ(bytes.listing.count, noted.listing.count) << trial;
		for (uint64_t i = 0; i < bytes.listing.count; i++)
			ASSERT_EQ(bytes.listing.table.entries[i] - bytes.buffer.data(),
			    noted.listing.table.entries[i] - noted.buffer.data()) << trial << " " << i;
		ASSERT_EQ(bytes.listing.passed_over, noted.listing.passed_over) << trial;
		ASSERT_EQ(bytes.listing.first_passed_over_line, noted.listing.first_passed_over_line);
		ASSERT_EQ(bytes.listing.past_the_end, noted.listing.past_the_end) << trial;
		ASSERT_EQ(bytes.listing.data_end_line, noted.listing.data_end_line) << trial;
		ASSERT_EQ(bytes.listing.trailer_found, noted.listing.trailer_found) << trial;
		// The count noting line ends counts as the line reader does, and
		// notes the same in blocks of every width.
		std::vector<char> buffer(data.size() + 64, '\0');
		data.copy(buffer.data(), data.size());
		LineEnds wide, narrow;
		ASSERT_EQ(count_noting_line_ends(buffer.data(), data.size(), wide), reader_lines(data))
		    << trial;
		ASSERT_EQ(count_noting_line_ends(buffer.data(), data.size(), narrow,
		    BlockWidth::sixteen), reader_lines(data)) << trial;
		ASSERT_EQ(std::vector<uint32_t>(wide.ends, wide.ends + wide.count),
		    std::vector<uint32_t>(narrow.ends, narrow.ends + narrow.count)) << trial;
		ASSERT_EQ(std::vector<uint32_t>(wide.odd, wide.odd + wide.odd_count),
		    std::vector<uint32_t>(narrow.odd, narrow.odd + narrow.odd_count)) << trial;
		ASSERT_EQ(wide.cr_lf, narrow.cr_lf) << trial;
		forget_line_ends(wide);
		forget_line_ends(narrow);
	}
}

TEST(Extract, NoHeaderEndsTheRun)
{
	EXPECT_EXIT(extract(crlf({ "no marker here", "12345678" })), testing::ExitedWithCode(1),
	    "There doesn't seem to be a header on t.txt");
}

TEST(Extract, SecondListingMustHaveTheFirstOnesLength)
{
	EXPECT_EXIT({
		Loaded l;
		l.listing = empty_listing(2);
		std::string bytes = crlf({ "----- BEGIN", "123456" });
		l.buffer.assign(bytes.begin(), bytes.end());
		l.buffer.resize(bytes.size() + 1024);
		l.listing.buffer = l.buffer.data();
		l.listing.name = "u.txt";
		extract_records(l.listing, bytes.size(), with_headers, 7);
	}, testing::ExitedWithCode(1), "different record lengths");
}

TEST(CountLines, CountsAsA1024CharacterLineReader)
{
	char path[] = "/tmp/rowsift-count-XXXXXX";
	int fd = mkstemp(path);
	std::string text = std::string(1022, 'a') + "\n" + std::string(1023, 'b') + "\n" +
	    std::string(1500, 'c') + "\n\r\r\n" + "tail";
	ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
	close(fd);
	// 1 + 2 + 2 + 1 (the CRs are ordinary characters) + 1.
	EXPECT_EQ(count_lines(path), 7);
	unlink(path);
	EXPECT_EQ(count_lines("/nonexistent/file"), -1);
}

TEST(Load, AReadErrorIsNotAnEmptyListing)
{
	char path[] = "/tmp/rowsift-read-XXXXXX";
	int fd = mkstemp(path);
	ASSERT_EQ(write(fd, "----- BEGIN\r\n123456\r\n", 21), 21);
	close(fd);
	EXPECT_EXIT({
		Listing l = empty_listing(1);
		l.name = "t.txt";
		l.size = 21;
		l.buffer_size = 4096;
		l.buffer = allocate_zeroed(l.buffer_size);
		// A handle open for writing only fails every read.
		l.handle = open(path, O_WRONLY);
		load_listing(l, with_headers, 0, false);
	}, testing::ExitedWithCode(1), "\nCan't read t.txt file\n");
	unlink(path);
}

TEST(CountLines, EmptyFileHasNoLines)
{
	char path[] = "/tmp/rowsift-count-XXXXXX";
	close(mkstemp(path));
	EXPECT_EQ(count_lines(path), 0);
	unlink(path);
}

// A pipe is read whole and counted as it comes; one byte past the
// largest input it is too large.
TEST(CountStream, WholeOrTooLarge)
{
	const std::string text = "12345\r\n" + std::string(1500, 'c') + "\n\nend";
	for (uint64_t largest : { text.size(), text.size() - 1 }) {
		int ends[2];
		ASSERT_EQ(pipe(ends), 0);
		ASSERT_EQ(write(ends[1], text.data(), text.size()), ssize_t(text.size()));
		close(ends[1]);
		KeptMap kept;
		int64_t lines = count_stream(ends[0], kept, largest);
		EXPECT_EQ(uint64_t(kept.identity.size), text.size());
		if (largest == text.size()) {
			EXPECT_EQ(kept.stream_end, StreamEnd::whole);
			EXPECT_EQ(lines, 5);
			ASSERT_GE(kept.buffer_size, buffer_size_for(text.size()));
			EXPECT_EQ(std::string(kept.buffer, text.size()), text);
			EXPECT_EQ(std::string(kept.buffer + text.size(), 1024), std::string(1024, '\0'));
		} else {
			EXPECT_EQ(kept.stream_end, StreamEnd::too_large);
			EXPECT_EQ(lines, 0);
			EXPECT_EQ(kept.buffer, nullptr);
		}
		forget_kept_map(kept);
		close(ends[0]);
	}
}

// A mapped file reads as itself, then zeros; pages it loses read as zeros
// too, and the loss is told.
TEST(MapInput, FileThenZerosAndLostPagesAreTold)
{
	char path[] = "/tmp/rowsift-map-XXXXXX";
	int fd = mkstemp(path);
	std::string text(3 * 4096 + 123, '\0');
	for (size_t i = 0; i < text.size(); i++)
		text[i] = char('a' + i % 26);
	ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
	size_t region = text.size() + 1024;
	char *at = allocate_zeroed(region);
	ASSERT_TRUE(map_input(fd, at, text.size()));
	EXPECT_EQ(std::string(at, text.size()), text);
	EXPECT_EQ(std::string(at + text.size(), 1024), std::string(1024, '\0'));
	EXPECT_FALSE(input_lost(at));

	ASSERT_EQ(ftruncate(fd, 4096), 0);
	EXPECT_EQ(at[2 * 4096 + 5], '\0');
	EXPECT_EQ(at[5], 'f');
	EXPECT_TRUE(input_lost(at));
	unmap_input(at, region);
	close(fd);
	unlink(path);
}

// A listing whose one record is longer than an int can count: a header,
// then 2 GiB and 1 MiB of 'x'.  The 'x's are one MiB of memory mapped over
// and over, so that the test takes neither 2 GiB of memory nor of disk.
TEST(Extract, RecordTooLongForItsLengthIsRefused)
{
	const size_t tile = 1 << 20, tiles = 2050;
	const std::string header = "t\r\n----- BEGIN\r\n  PATH  \r\n";
	size_t length = tile * tiles;
	char *region = allocate_zeroed(length + 4096);
	ASSERT_NE(region, nullptr);
	int fd = memfd_create("xs", 0);
	ASSERT_GE(fd, 0);
	std::string xs(tile, 'x');
	ASSERT_EQ(pwrite(fd, xs.data(), tile, 0), ssize_t(tile));
	for (size_t i = 0; i < tiles; i++)
		ASSERT_NE(mmap(region + i * tile, tile, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED,
		    fd, 0), MAP_FAILED);
	close(fd);
	header.copy(region, header.size());
	Listing l;
	l.name = "long.txt";
	l.buffer = region;
	grow_table(l.table, 0);
	EXPECT_EXIT(extract_records(l, length, with_headers), testing::ExitedWithCode(1),
	    "The records of long.txt are " + std::to_string(length - header.size()) +
	    " characters long, more than the 2147483647 a record may have");
	free(l.table.entries);
	unmap_input(region, length + 4096);
}
