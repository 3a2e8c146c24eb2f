#include "listing/columns.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "listing/markers.h"

// Three bytes close the hash column before the path: " | ".
static const size_t hash_to_path = 3;

Layout
layout_for(int hash_chars, int width, bool lf_only)
{
	Layout layout;
	layout.hash_chars = hash_chars;
	layout.width = width;
	layout.record_length = hash_at + size_t(hash_chars) + hash_to_path + size_t(width);
	layout.eol = lf_only ? lf_line_end : crlf_line_end;
	return layout;
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
	title += "|";
	title += column_title_marker;
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
