// The record layout of rowsift-list checked against rowsift's own rules:
// its hash search, the line ends and trailer that cut its data.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <tuple>

#include "list/list.h"
#include "listing/escape.h"
#include "listing/markers.h"
#include "listing/title.h"

namespace {

Layout
layout_with(const char *algorithm, int width, bool content_only = true)
{
	ListOptions o;
	o.algorithm = find_algorithm(algorithm);
	o.width = width;
	o.content_only = content_only;
	return layout_of(o);
}

std::string
record_line(const Record &r, const Layout &layout, const std::string &prefix = "")
{
	std::string line(layout.record_length, '#');
	format_record(&line[0], r, prefix, layout);
	return line;
}

Record
hashed_record(const std::string &path, int64_t size)
{
	Record r;
	r.path = path;
	r.size = size;
	r.mtime = 1765287047;	// 2025-12-09 13:30:47
	r.stat_known = true;
	r.state = record_hashed;
	for (int i = 0; i < 32; i++)
		r.digest[i] = static_cast<unsigned char>(0x5A + 7 * i);
	return r;
}

std::string
escaped(const std::string &text)
{
	std::string out;
	append_escaped(out, text.data(), text.size());
	return out;
}

} // namespace

TEST(ListRecord, HashSearchFindsTheHashForSizesOfEveryWidth)
{
	// Digits that could pass for hex in every position, the largest and
	// the smallest size of each width.
	const std::string digits = "1234567890123456789";
	for (size_t a = 0; a < hash_algorithm_count * 2; a++) {
		bool content_only = a < hash_algorithm_count;
		Layout layout = layout_with(hash_algorithms[a % hash_algorithm_count].name, 30, content_only);
		for (size_t width = 1; width <= 19; width++) {
			std::string power(width, '0');
			power[0] = '1';
			int64_t low = width == 1 ? 0 : std::stoll(power);
			int64_t high = width == 19 ? INT64_MAX : std::stoll(std::string(width, '9'));
			int64_t mixed = std::stoll(digits.substr(0, width));
			for (int64_t size : { high, mixed, low }) {
				std::string line = record_line(hashed_record("dir/file.txt", size), layout);
				int length = 0;
				EXPECT_EQ(find_hash(line.data(), int(line.size()), &length), content_only ? 41 : 86) << line;
				EXPECT_EQ(length, layout.hash_chars) << line;
			}
		}
	}
}

TEST(ListRecord, ColumnsAndUnknownsKeepTheirPlaces)
{
	Layout layout = layout_with("md5", 12);
	Record r = hashed_record("a.txt", 1234567);
	EXPECT_EQ(record_line(r, layout),
	    "          1,234,567|2025-12-09|13:30:47| 5A61686F767D848B9299A0A7AEB5BCC3 | a.txt       ");
	r.stat_known = false;
	r.state = record_unreadable;
	std::string unknown = record_line(r, layout);
	EXPECT_EQ(unknown,
	    "                  ?|??????????|????????| 00000000???????????????????????? | a.txt       ");
	int length = 0;
	EXPECT_EQ(find_hash(unknown.data(), int(unknown.size()), &length), 41);
	EXPECT_EQ(length, 32);
	r = hashed_record("a.txt", 9223372036854775807);
	r.mtime = 300000000000;	// past the year 9999
	EXPECT_EQ(record_line(r, layout).substr(0, 40), "9223372036854775807|??????????|????????|");
	EXPECT_EQ(record_line(hashed_record("much/too/long.txt", 1), layout).substr(layout.record_length - 14),
	    "| much/too/lon");
}

TEST(ListRecord, ColumnTitleLinesUpWithTheRecords)
{
	Layout layout = layout_with("sha256", 20);
	std::string title = column_title(layout);
	std::string line = record_line(hashed_record("x", 1), layout);
	EXPECT_EQ(title.size(), line.size());
	EXPECT_EQ(title.find("  PATH  "), line.rfind("| ") + 1);
	for (size_t at : { size_t(19), size_t(30), size_t(39) })
		EXPECT_EQ(title[at], '|') << at;
}

TEST(ListStatus, ModesAreWrittenAsLsShowsThem)
{
	const std::pair<uint32_t, const char *> cases[] = {
		{ 0100644, "-rw-r--r--" }, { 0100000, "----------" }, { 0100777, "-rwxrwxrwx" },
		{ 0104755, "-rwsr-xr-x" }, { 0104644, "-rwSr--r--" },
		{ 0102755, "-rwxr-sr-x" }, { 0102745, "-rwxr-Sr-x" },
		{ 041777, "drwxrwxrwt" }, { 041776, "drwxrwxrwT" }, { 0107777, "-rwsrwsrwt" }, { 0107000, "---S--S--T" },
		{ 040700, "drwx------" }, { 0120777, "lrwxrwxrwx" }, { 020620, "crw--w----" },
		{ 060660, "brw-rw----" }, { 010644, "prw-r--r--" }, { 0140755, "srwxr-xr-x" }, { 0000644, "?rw-r--r--" },
	};
	for (const auto &[mode, text] : cases) {
		char column[mode_chars];
		format_mode(column, mode);
		EXPECT_EQ(std::string(column, mode_chars), text) << std::oct << mode;
	}
}

// A name stands in the column only when it is short, printable and
// can't pass for the hash; else the id, grouped so that it can't either.
TEST(ListStatus, OwnersAreNamesOrNumbersThatTheHashSearchPassesOver)
{
	const std::tuple<const char *, uint64_t, const char *> cases[] = {
		{ "root", 0, "root" }, { "", 0, "0" }, { "", 999, "999" }, { "", 1000, "1,000" },
		{ "", 4294967295u, "4,294,967,295" }, { "exactly-16-bytes", 1, "exactly-16-bytes" },
		{ "seventeen-bytes-x", 2, "2" }, { "cafebab", 3, "cafebab" }, { "cafebabe", 4, "4" },
		{ "my_DeadBeef0", 5, "5" }, { "12345678", 6, "6" }, { "1234567", 7, "1234567" },
		{ "with blank", 8, "8" }, { "a|b", 9, "9" }, { "caf\xc3\xa9", 10, "10" }, { "tab\t", 11, "11" },
		{ "x-y.z_w$", 12, "x-y.z_w$" },
	};
	for (const auto &[name, id, text] : cases) {
		EXPECT_EQ(owner_text(name, id), text) << name;
		char column[owner_chars + 1];
		column[owner_chars] = '#';
		format_owner(column, text);
		EXPECT_EQ(std::string(column, owner_chars + 1), text + std::string(owner_chars - strlen(text), ' ') + "#");
	}
}

// Ids above any the system names, so that the bytes are the same on
// every machine.
TEST(ListStatus, EveryKindOfEntryHasItsRecord)
{
	Layout layout = layout_with("md5", 12, false);
	EXPECT_EQ(column_title(layout), "               SIZE|   DATE   |  TIME  |   MODE   |     OWNER      |"
	    "     GROUP      | HASH                             |  PATH       ");
	Record file = hashed_record("a.txt", 1234567);
	file.mode = 0104755;
	file.uid = 4000000000u;
	file.gid = 4000000001u;
	EXPECT_EQ(record_line(file, layout), "          1,234,567|2025-12-09|13:30:47|-rwsr-xr-x|4,000,000,000   |"
	    "4,000,000,001   | 5A61686F767D848B9299A0A7AEB5BCC3 | a.txt       ");
	Record link = file;
	link.kind = FileKind::link;
	link.mode = 0120777;
	link.size = 5;
	link.path = "to-a";
	EXPECT_EQ(record_line(link, layout), "                  5|2025-12-09|13:30:47|lrwxrwxrwx|4,000,000,000   |"
	    "4,000,000,001   | 5A61686F767D848B9299A0A7AEB5BCC3 | to-a        ");
	link.state = record_unreadable;
	EXPECT_EQ(record_line(link, layout).substr(84, 37), "| 00000000???????????????????????? | ");
	Record directory = file;
	directory.kind = FileKind::directory;
	directory.mode = 040700;
	directory.path = ".";
	const std::string no_content = "| 00000000------------------------ | ";
	EXPECT_EQ(record_line(directory, layout), std::string(19, ' ') + "|          |        |drwx------|"
	    "4,000,000,000   |4,000,000,001   " + no_content + ".           ");
	Record fifo = directory;
	fifo.kind = FileKind::other;
	fifo.mode = 010644;
	fifo.path = "pipe";
	EXPECT_EQ(record_line(fifo, layout).substr(40, 81), "prw-r--r--|4,000,000,000   |4,000,000,001   " + no_content);
	// An entry gone before its status was read.
	Record gone = file;
	gone.stat_known = false;
	gone.state = record_unreadable;
	EXPECT_EQ(record_line(gone, layout).substr(0, 86), std::string(18, ' ') + "?|??????????|????????|??????????|"
	    "?               |?               | ");
	// rowsift -h finds the hash column of each: a listing may begin with any.
	for (const Record *r : { &file, &link, &directory, &fifo, &gone }) {
		std::string line = record_line(*r, layout);
		int length = 0;
		EXPECT_EQ(find_hash(line.data(), int(line.size()), &length), 86) << line;
		EXPECT_EQ(length, 32) << line;
	}
	// Names of every owner, the longest with an eight-digit hex run cut
	// apart by the grouping.
	directory.uid = 99999999;
	std::string line = record_line(directory, layout);
	int length = 0;
	EXPECT_EQ(line.substr(51, 16), "99,999,999      ");
	EXPECT_EQ(find_hash(line.data(), int(line.size()), &length), 86) << line;
}

TEST(ListEscape, BytesThatWouldCutOrStopARecordAreEscaped)
{
	EXPECT_EQ(escaped("plain/naïve name.txt"), "plain/naïve name.txt");
	EXPECT_EQ(escaped("back\\slash"), "back\\\\slash");
	EXPECT_EQ(escaped("line\nfeed\rreturn"), "line\\x0Afeed\\x0Dreturn");
	EXPECT_EQ(escaped(std::string("zero\0byte", 9)), "zero\\x00byte");
	EXPECT_EQ(escaped("\x1b[31m\x7f"), "\\x1B[31m\\x7F");
	EXPECT_EQ(escaped(" both ends "), "\\x20both ends\\x20");
	EXPECT_EQ(escaped("notes----- END of it"), "notes-----\\x20END of it");
	EXPECT_EQ(escaped("---- END"), "---- END");
	// A literal escape and the byte it stands for are written apart.
	EXPECT_NE(escaped("a\\x0Ab"), escaped("a\nb"));
	EXPECT_EQ(escaped_length("a b\n", 4), escaped("a b\n").size());
}

TEST(ListTitle, RootsCannotMakeAHeaderAndStayShort)
{
	ListOptions o;
	o.roots = { "/srv/----- BEGIN", "/srv/x  PATH  y" };
	std::string title = title_line(o, 0);
	EXPECT_EQ(title.find("----- BEGIN"), std::string::npos) << title;
	EXPECT_EQ(title.find("  PATH  "), std::string::npos) << title;
	EXPECT_EQ(title.rfind("rowsift-list 1.0 listing, md5, path width 200, taken 1970-01-01 00:00:00 UTC, of ", 0), 0u);
	o.roots.assign(100, "/" + std::string(80, 'r'));
	title = title_line(o, 0);
	EXPECT_LT(title.size(), 1000u);
	EXPECT_NE(title.find(" and 93 more"), std::string::npos) << title;
}

// What --like and rowsift's algorithm refusal read back of every title
// line rowsift-list writes.
TEST(ListTitle, EveryAlgorithmAndWidthIsReadBack)
{
	ListOptions o;
	o.roots = { "/srv/data" };
	for (size_t a = 0; a < hash_algorithm_count; a++) {
		for (int width : { 1, 200, max_width }) {
			o.algorithm = &hash_algorithms[a];
			o.width = width;
			std::string line = title_line(o, 1765287047) + "\r\n" + std::string(header_marker);
			Title title = read_title(line.data(), line.size());
			EXPECT_TRUE(title.found) << line;
			EXPECT_EQ(find_algorithm(title.algorithm), o.algorithm) << line;
			EXPECT_TRUE(title.width_given) << line;
			EXPECT_EQ(title.width, width) << line;
		}
	}
	// The time taken, which --reuse reads, from the first day to the last
	// the title can write, a leap day among them.
	for (int64_t taken : { int64_t(0), int64_t(951825599), int64_t(1765287047), int64_t(253402300799) }) {
		std::string line = title_line(o, taken);
		Title title = read_title(line.data(), line.size());
		EXPECT_TRUE(title.taken_given) << line;
		EXPECT_EQ(title.taken, taken) << line;
	}
	for (const char *other : { "sumlist 1.0 listing, md5, path width 9", "rowsift-list 1.0 listing md5" }) {
		Title title = read_title(other, strlen(other));
		EXPECT_FALSE(title.found) << other;
		EXPECT_EQ(title.algorithm, "") << other;
	}
}
