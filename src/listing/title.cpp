#include "listing/title.h"

#include <cstdlib>
#include <string_view>

#include "listing/algorithms.h"
#include "listing/columns.h"
#include "listing/escape.h"
#include "listing/lines.h"

static const std::string_view program_part = "rowsift-list ";
static const std::string_view kind_part = " listing, ";
static const std::string_view width_part = ", path width ";
static const std::string_view taken_part = ", taken ";

// Caps the roots shown in the title, so that the header line after it
// begins within the first 1001 bytes, where rowsift looks for it.
static const size_t title_roots_budget = 600;

// A root in the title has every blank escaped, so that no root can
// make the title read as a header or a column-title line, nor hold the
// texts the title is read by.
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

std::string
title_line(const char *version, const HashAlgorithm &algorithm, int width, int64_t now,
    const std::vector<std::string> &roots)
{
	char date[10], time_of_day[8];
	format_utc(date, time_of_day, now);
	std::string title = std::string(program_part) + version + std::string(kind_part) +
	    algorithm.name + std::string(width_part) + std::to_string(width) +
	    ", taken " + std::string(date, 10) + " " + std::string(time_of_day, 8) + " UTC, of";
	size_t budget_end = title.size() + title_roots_budget;
	for (size_t i = 0; i < roots.size(); i++) {
		std::string root = " ";
		append_title_root(root, roots[i]);
		if (title.size() + root.size() > budget_end) {
			title += " and " + std::to_string(roots.size() - i) + " more";
			break;
		}
		title += root;
	}
	return title;
}

// Days from 1970-01-01 to the date, in the calendar used backwards too.
static int64_t
days_from_civil(int64_t year, int64_t month, int64_t day)
{
	year -= month <= 2;
	int64_t era = (year >= 0 ? year : year - 399) / 400;
	int64_t year_of_era = year - era * 400;
	int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
	int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
	return era * 146097 + day_of_era - 719468;
}

static bool
read_number(std::string_view text, size_t at, size_t digits, int64_t &value)
{
	value = 0;
	for (size_t i = at; i < at + digits; i++) {
		if (text[i] < '0' || text[i] > '9')
			return false;
		value = value * 10 + (text[i] - '0');
	}
	return true;
}

// "2025-12-09 13:30:47 UTC" as the title writes it.  Read back and written
// again it must give the same text, which rules out a 31st of February.
static bool
read_taken(std::string_view text, int64_t &seconds)
{
	if (text.size() < 23 || text.substr(19, 4) != " UTC")
		return false;
	int64_t year, month, day, hour, minute, second;
	if (!read_number(text, 0, 4, year) || text[4] != '-' || !read_number(text, 5, 2, month) ||
	    text[7] != '-' || !read_number(text, 8, 2, day) || text[10] != ' ' ||
	    !read_number(text, 11, 2, hour) || text[13] != ':' || !read_number(text, 14, 2, minute) ||
	    text[16] != ':' || !read_number(text, 17, 2, second))
		return false;
	seconds = days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
	char date[10], time_of_day[8];
	format_utc(date, time_of_day, seconds);
	return text.substr(0, 10) == std::string_view(date, 10) &&
	    text.substr(11, 8) == std::string_view(time_of_day, 8);
}

Title
read_title(const char *data, size_t n)
{
	Title t;
	std::string_view line(data, line_end(data, n, 0));
	size_t kind_at = line.find(kind_part);
	if (line.substr(0, program_part.size()) != program_part || kind_at == std::string_view::npos)
		return t;
	std::string_view rest = line.substr(kind_at + kind_part.size());
	size_t comma = rest.find(',');
	if (comma == std::string_view::npos)
		return t;
	t.found = true;
	t.algorithm = std::string(rest.substr(0, comma));
	size_t width_at = line.find(width_part);
	if (width_at != std::string_view::npos) {
		t.width_given = true;
		std::string number(line.substr(width_at + width_part.size()));
		t.width = atoi(number.c_str());
	}
	size_t taken_at = line.find(taken_part);
	if (taken_at != std::string_view::npos)
		t.taken_given = read_taken(line.substr(taken_at + taken_part.size()), t.taken);
	return t;
}
