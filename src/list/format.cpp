#include <cstring>
#include <ctime>
#include <algorithm>

#include "list/list.h"

static const char hex_digits[] = "0123456789ABCDEF";

// Column positions: SIZE|DATE|TIME| HASH | PATH
static const size_t size_chars = 19;
static const size_t date_at = size_chars + 1;
static const size_t time_at = date_at + 11;
static const size_t hash_at = time_at + 10;

// Caps the roots shown in the title, so that the header line after it
// begins within the first 1001 bytes, where rowsift looks for it.
static const size_t title_roots_budget = 600;

static size_t
write_hex_escape(unsigned char c, char *out)
{
	out[0] = '\\';
	out[1] = 'x';
	out[2] = hex_digits[c >> 4];
	out[3] = hex_digits[c & 15];
	return 4;
}

// Whether the blank at i completes "----- END", where rowsift would stop
// reading the listing.
static bool
blank_ends_listing(const char *text, size_t n, size_t i)
{
	return i >= 5 && i + 3 < n && memcmp(text + i - 5, "-----", 5) == 0 &&
	    memcmp(text + i + 1, "END", 3) == 0;
}

// Writes byte i of text as it appears in a listing; returns how many
// bytes that takes.  Line ends and zero bytes would cut the record, a
// blank at either end would be lost among the padding, and the backslash
// is doubled so that every escape reads back one way.
static size_t
escape_at(const char *text, size_t n, size_t i, char *out)
{
	unsigned char c = static_cast<unsigned char>(text[i]);
	if (c == '\\') {
		out[0] = out[1] = '\\';
		return 2;
	}
	if (c < 0x20 || c == 0x7f)
		return write_hex_escape(c, out);
	if (c == ' ' && (i == 0 || i + 1 == n || blank_ends_listing(text, n, i)))
		return write_hex_escape(c, out);
	out[0] = char(c);
	return 1;
}

void
append_escaped(std::string &out, const char *text, size_t n)
{
	char piece[4];
	for (size_t i = 0; i < n; i++)
		out.append(piece, escape_at(text, n, i, piece));
}

size_t
escaped_length(const char *text, size_t n)
{
	char piece[4];
	size_t length = 0;
	for (size_t i = 0; i < n; i++)
		length += escape_at(text, n, i, piece);
	return length;
}

// A root in the title has every blank escaped, so that no root can
// make the title read as a header ("----- BEGIN") or a column title
// ("  PATH  ").
static void
append_title_root(std::string &out, const std::string &root)
{
	std::string escaped;
	append_escaped(escaped, root.data(), root.size());
	size_t at;
	while ((at = escaped.find(' ')) != std::string::npos)
		escaped.replace(at, 1, "\\x20");
	out += escaped;
}

static const char *
algorithm_name(Algorithm a)
{
	return a == Algorithm::md5 ? "md5" : "sha256";
}

// Fills 10 bytes with the date and 8 with the time, or with '?' when
// they can't be written in that many.
static void
format_utc(char *date, char *time_of_day, int64_t seconds)
{
	struct tm t;
	time_t when = time_t(seconds);
	if (!gmtime_r(&when, &t) || t.tm_year + 1900 < 0 || t.tm_year + 1900 > 9999) {
		memset(date, '?', 10);
		memset(time_of_day, '?', 8);
		return;
	}
	char text[32];
	snprintf(text, sizeof text, "%04d-%02d-%02d%02d:%02d:%02d", t.tm_year + 1900,
	    t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
	memcpy(date, text, 10);
	memcpy(time_of_day, text + 10, 8);
}

std::string
title_line(const ListOptions &o, int64_t now)
{
	char date[10], time_of_day[8];
	format_utc(date, time_of_day, now);
	std::string title = "rowsift-list " + std::string(list_version) + " listing, " +
	    algorithm_name(o.algorithm) + ", path width " + std::to_string(o.width) +
	    ", taken " + std::string(date, 10) + " " + std::string(time_of_day, 8) + " UTC, of";
	size_t budget_end = title.size() + title_roots_budget;
	for (size_t i = 0; i < o.roots.size(); i++) {
		std::string root = " ";
		append_title_root(root, o.roots[i]);
		if (title.size() + root.size() > budget_end) {
			title += " and " + std::to_string(o.roots.size() - i) + " more";
			break;
		}
		title += root;
	}
	return title;
}

static void
pad_to(std::string &text, size_t length)
{
	if (text.size() < length)
		text.append(length - text.size(), ' ');
}

std::string
column_title(const Layout &layout)
{
	std::string title(size_chars - 4, ' ');
	title += "SIZE|   DATE   |  TIME  | HASH";
	pad_to(title, hash_at + size_t(layout.hash_chars) + 1);
	title += "|  PATH  ";
	pad_to(title, layout.record_length);
	return title;
}

// Sizes of up to 15 digits are grouped by threes with commas, so that no
// run of eight digits stands where rowsift -h looks for the hash (after the
// first blank at or after index 3).  Longer sizes begin before index 3
// and hold no blank, so that search starts past them.
void
format_size(char *column, int64_t size)
{
	memset(column, ' ', size_chars);
	if (size < 0) {
		column[size_chars - 1] = '?';
		return;
	}
	char digits[24];
	int n = snprintf(digits, sizeof digits, "%lld", (long long)size);
	bool grouped = n <= 15;
	char *out = column + size_chars;
	for (int i = n - 1, placed = 0; i >= 0; i--, placed++) {
		if (grouped && placed > 0 && placed % 3 == 0)
			*--out = ',';
		*--out = digits[i];
	}
}

// A file that could not be read shows eight zeros and then '?': rowsift
// -h takes the place of the hash from the first record, and finds it only
// after eight hex digits.  Without them it would search on into the path.
static void
format_digest(char *out, const Record &r, int hash_chars)
{
	if (r.state != record_hashed) {
		memset(out, '0', 8);
		memset(out + 8, '?', size_t(hash_chars) - 8);
		return;
	}
	for (int i = 0; i < hash_chars / 2; i++) {
		out[2 * i] = hex_digits[r.digest[i] >> 4];
		out[2 * i + 1] = hex_digits[r.digest[i] & 15];
	}
}

// Writes exactly layout.record_length bytes.  A path longer than the
// width never gets here (the walk refuses it), and is cut if it does.
void
format_record(char *line, const Record &r, const std::string &prefix, const Layout &layout)
{
	format_size(line, r.stat_known ? r.size : -1);
	line[date_at - 1] = '|';
	if (r.stat_known) {
		format_utc(line + date_at, line + time_at, r.mtime);
	} else {
		memset(line + date_at, '?', 10);
		memset(line + time_at, '?', 8);
	}
	line[time_at - 1] = '|';
	memcpy(line + hash_at - 2, "| ", 2);
	format_digest(line + hash_at, r, layout.hash_chars);
	size_t path_at = hash_at + size_t(layout.hash_chars);
	memcpy(line + path_at, " | ", 3);
	path_at += 3;
	std::string path = prefix + r.path;
	std::string written;
	append_escaped(written, path.data(), path.size());
	size_t width = size_t(layout.width);
	size_t used = std::min(written.size(), width);
	memcpy(line + path_at, written.data(), used);
	memset(line + path_at + used, ' ', width - used);
}
