// The columns of a listing by name: the names of its column-title line,
// and the values of a record's columns.  Both are cut at each "|" and
// trimmed of blanks; the last column, the path, is the rest of the line,
// whatever "|" it holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The column-title line that begins at `start`, without its line end;
// empty when that line holds no column-title marker (it is the header
// line of a listing without a column-title line).
std::string read_column_title(const char *data, size_t length, size_t start);

// The names of a column-title line; none for an empty one.
std::vector<std::string> column_names(std::string_view title);

// Whether the title's "|"s stand where the record has them, so that its
// names are those of the record's columns.
bool title_fits(std::string_view title, const char *record, size_t span);

// The value of the column of a record of `span` bytes that begins at
// *at, up to the next "|", trimmed; *at moves past that "|", or to the
// end of the record, where every further column is empty.
std::string_view next_column(const char *record, size_t span, size_t *at);

// The value of column k of a record of a listing with `count` columns:
// the last is the rest of the record.
std::string_view column_value(const char *record, size_t span, size_t k, size_t count);

// The names as a list: "SIZE, DATE, TIME, HASH, PATH".
std::string joined_names(const std::vector<std::string> &names);
