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
	return t;
}
