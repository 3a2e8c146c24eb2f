#include "loader/column_names.h"

#include <cstring>

#include "listing/lines.h"
#include "listing/markers.h"

// Without the blanks that pad the column.
static std::string_view
trimmed(const char *text, size_t length)
{
	size_t from = 0;
	while (from < length && text[from] == ' ')
		from++;
	while (length > from && text[length - 1] == ' ')
		length--;
	return std::string_view(text + from, length - from);
}

std::string_view
next_column(const char *record, size_t span, size_t *at)
{
	size_t from = *at;
	auto *bar = static_cast<const char *>(memchr(record + from, '|', span - from));
	size_t end = bar ? size_t(bar - record) : span;
	*at = bar ? end + 1 : span;
	return trimmed(record + from, end - from);
}

std::string_view
column_value(const char *record, size_t span, size_t k, size_t count)
{
	size_t at = 0;
	for (size_t i = 0; i < k; i++)
		next_column(record, span, &at);
	if (k + 1 < count)
		return next_column(record, span, &at);
	return trimmed(record + at, span - at);
}

std::string
read_column_title(const char *data, size_t length, size_t start)
{
	size_t end = line_end(data, length, start);
	if (!line_contains(data, start, end, column_title_marker))
		return {};
	return std::string(data + start, end - start);
}

std::vector<std::string>
column_names(std::string_view title)
{
	if (title.empty())
		return {};
	// The title line has as many columns as it has "|"s and one more.
	size_t count = 1;
	for (char c : title)
		count += c == '|';
	std::vector<std::string> names;
	for (size_t k = 0; k < count; k++)
		names.emplace_back(column_value(title.data(), title.size(), k, count));
	return names;
}

bool
title_fits(std::string_view title, const char *record, size_t span)
{
	for (size_t i = 0; i < title.size(); i++)
		if (title[i] == '|' && (i >= span || record[i] != '|'))
			return false;
	return true;
}

std::string
joined_names(const std::vector<std::string> &names)
{
	std::string text;
	for (const std::string &name : names)
		text += (text.empty() ? "" : ", ") + name;
	return text;
}
