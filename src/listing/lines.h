// Cutting a listing into lines: a line ends at CR LF, or at a single CR,
// LF or zero byte.  Inline, as the loader calls them for every record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "bytes.h"

inline bool
is_line_end(char c)
{
	return c == '\r' || c == '\n' || c == '\0';
}

// Whether any of eight bytes is below 14, as CR, LF and zero are; one
// test that passes over the printable characters of most lines.
inline bool
has_control_byte(uint64_t word)
{
	return ((word - 0x0e0e0e0e0e0e0e0eull) & ~word & 0x8080808080808080ull) != 0;
}

// Whether any of eight bytes is a CR, an LF or a zero byte.
inline bool
holds_line_end(uint64_t word)
{
	return has_control_byte(word) && (has_zero_byte(word) ||
	    has_zero_byte(word ^ 0x0d0d0d0d0d0d0d0dull) || has_zero_byte(word ^ 0x0a0a0a0a0a0a0a0aull));
}

// The end of the line that holds pos: its first CR, LF or zero byte, or
// the end of the data.
inline size_t
line_end(const char *data, size_t length, size_t pos)
{
	// Eight bytes at a time up to the word that holds the line end.
	for (; pos + 8 <= length; pos += 8) {
		uint64_t word;
		memcpy(&word, data + pos, 8);
		if (holds_line_end(word))
			break;
	}
	while (pos < length && !is_line_end(data[pos]))
		pos++;
	return pos;
}

// The start of the line after the one that ends at end: past CR LF, or
// past a single CR, LF or zero byte.
inline size_t
next_line(const char *data, size_t length, size_t end)
{
	if (end + 1 < length && data[end] == '\r' && data[end + 1] == '\n')
		return end + 2;
	return end + 1;
}

// Whether the line from start to end holds the text.
inline bool
line_contains(const char *data, size_t start, size_t end, std::string_view text)
{
	return std::string_view(data + start, end - start).find(text) != std::string_view::npos;
}
