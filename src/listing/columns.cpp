#include "listing/columns.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

#include "listing/markers.h"

// Three bytes close the hash column before the path: " | ".
static const size_t hash_to_path = 3;

Layout
layout_for(int hash_chars, int width, bool lf_only, bool content_only)
{
	Layout layout;
	layout.hash_chars = hash_chars;
	layout.width = width;
	layout.content_only = content_only;
	layout.hash_column = content_only ? hash_at : status_hash_at;
	layout.record_length = layout.hash_column + size_t(hash_chars) + hash_to_path + size_t(width);
	layout.eol = lf_only ? lf_line_end : crlf_line_end;
	return layout;
}

static std::string_view
trimmed(std::string_view text)
{
	size_t start = text.find_first_not_of(' ');
	if (start == std::string_view::npos)
		return {};
	return text.substr(start, text.find_last_not_of(' ') + 1 - start);
}

bool
names_mode_column(std::string_view line)
{
	for (size_t start = 0; start <= line.size();) {
		size_t bar = std::min(line.find('|', start), line.size());
		if (trimmed(line.substr(start, bar - start)) == "MODE")
			return true;
		start = bar + 1;
	}
	return false;
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
	title += "SIZE|   DATE   |  TIME  |";
	if (!layout.content_only)
		title += "   MODE   |     OWNER      |     GROUP      |";
	title += " HASH";
	pad_to(title, layout.hash_column + size_t(layout.hash_chars) + 1);
	title += "|";
	title += column_title_marker;
	pad_to(title, layout.record_length);
	return title;
}

// Digits grouped by threes with commas, written backwards from end.
static char *
write_grouped(char *end, const char *digits, int n)
{
	for (int i = n - 1, placed = 0; i >= 0; i--, placed++) {
		if (placed > 0 && placed % 3 == 0)
			*--end = ',';
		*--end = digits[i];
	}
	return end;
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
	if (n <= 15)
		write_grouped(column + size_chars, digits, n);
	else
		memcpy(column + size_chars - n, digits, size_t(n));
}

static char
type_letter(uint32_t mode)
{
	switch (mode & S_IFMT) {
	case S_IFREG: return '-';
	case S_IFDIR: return 'd';
	case S_IFLNK: return 'l';
	case S_IFCHR: return 'c';
	case S_IFBLK: return 'b';
	case S_IFIFO: return 'p';
	case S_IFSOCK: return 's';
	default: return '?';
	}
}

// The execute letter of a triplet that has a special bit: lower case
// when the triplet may also execute, upper case when it may not.
static char
execute_letter(bool execute, bool special, char letter)
{
	if (!special)
		return execute ? 'x' : '-';
	return execute ? letter : char(letter - 'a' + 'A');
}

void
format_mode(char *column, uint32_t mode)
{
	column[0] = type_letter(mode);
	const uint32_t specials[] = { S_ISUID, S_ISGID, S_ISVTX };
	const char letters[] = { 's', 's', 't' };
	for (int who = 0; who < 3; who++) {
		uint32_t bits = mode >> (6 - 3 * who);
		char *triplet = column + 1 + 3 * who;
		triplet[0] = bits & 4 ? 'r' : '-';
		triplet[1] = bits & 2 ? 'w' : '-';
		triplet[2] = execute_letter(bits & 1, mode & specials[who], letters[who]);
	}
}

static bool
fits_owner_column(std::string_view name)
{
	if (name.empty() || name.size() > owner_chars)
		return false;
	int hex_run = 0;
	for (char c : name) {
		if (c <= ' ' || c > '~' || c == '|')
			return false;
		hex_run = is_hex_digit(c) ? hex_run + 1 : 0;
		if (hex_run == 8)
			return false;
	}
	return true;
}

std::string
owner_text(std::string_view name, uint64_t id)
{
	if (fits_owner_column(name))
		return std::string(name);
	char digits[24], grouped[32];
	int n = snprintf(digits, sizeof digits, "%llu", (unsigned long long)id);
	char *end = grouped + sizeof grouped;
	char *start = write_grouped(end, digits, n);
	return std::string(start, end);
}

void
format_owner(char *column, std::string_view text)
{
	size_t used = std::min(text.size(), owner_chars);
	memcpy(column, text.data(), used);
	memset(column + used, ' ', owner_chars - used);
}

void
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

// Eight zeros and then '?': rowsift -h takes the place of the hash from
// the first record, and finds it only after eight hex digits.  Without
// them it would search on into the path.
void
write_unreadable_mark(char *column, int hash_chars)
{
	memset(column, '0', 8);
	memset(column + 8, '?', size_t(hash_chars) - 8);
}

void
write_no_content_mark(char *column, int hash_chars)
{
	memset(column, '0', 8);
	memset(column + 8, '-', size_t(hash_chars) - 8);
}

bool
is_no_content_mark(std::string_view hash)
{
	return hash.size() > 8 && hash.substr(0, 8) == "00000000" &&
	    hash.find_first_not_of('-', 8) == std::string_view::npos;
}

bool
is_hex_digit(char c)
{
	return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool
is_real_hash(std::string_view hash)
{
	return !hash.empty() && std::all_of(hash.begin(), hash.end(), is_hex_digit);
}

int
find_hash(const char *r, int len, int *hash_length)
{
	int p = 3;
	while (p < len && r[p] != ' ')
		p++;
	for (;;) {
		while (p < len && (r[p] == ' ' || r[p] == '|'))
			p++;
		if (p >= len)
			return -1;
		int k = 0;
		while (k < 8 && p + k < len && is_hex_digit(r[p + k]))
			k++;
		if (k == 8)
			break;
		p += k ? k : 1;
	}
	int q = p;
	while (q < len && r[q] != ' ')
		q++;
	*hash_length = q - p;
	return p;
}

Columns
locate_columns(const char *record, int length)
{
	Columns c;
	c.hash_start = find_hash(record, length, &c.hash_length);
	if (c.hash_start < 0)
		return c;
	int hash_end = c.hash_start + c.hash_length;
	auto *bar = static_cast<const char *>(memchr(record + hash_end, '|', size_t(length - hash_end)));
	c.path_start = bar ? int(bar - record) + 1 : length;
	if (c.path_start < length && record[c.path_start] == ' ')
		c.path_start++;
	return c;
}
