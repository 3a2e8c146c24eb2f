// The lines that frame the data of a listing, where a reader looks for
// them, and the line ends rowsift-list writes.
#pragma once

#include <cstddef>
#include <string_view>

// The line just before the data; within the data, a line holding the
// trailer marker ends it.
inline constexpr std::string_view header_marker = "----- BEGIN";
inline constexpr std::string_view trailer_marker = "----- END";

// The column-title line between the header and the data holds this: it
// stands in for the header where both are near the start.
inline constexpr std::string_view column_title_marker = "  PATH  ";

// Lines are searched for the header from these positions only, and for a
// column-title line after it from these.
inline constexpr size_t header_search_limit = 1000;
inline constexpr size_t title_search_limit = 2000;

// A line no longer than this ends the data; no record is that short.
inline constexpr size_t short_line = 5;

inline constexpr const char *crlf_line_end = "\r\n";
inline constexpr const char *lf_line_end = "\n";
