#include "listing/escape.h"

#include <cstring>

#include "listing/markers.h"

static const char hex_digits[] = "0123456789ABCDEF";

static size_t
write_hex_escape(unsigned char c, char *out)
{
	out[0] = '\\';
	out[1] = 'x';
	out[2] = hex_digits[c >> 4];
	out[3] = hex_digits[c & 15];
	return 4;
}

// Whether the blank at i completes the trailer marker, where rowsift
// would stop reading the listing.
static bool
blank_ends_listing(const char *text, size_t n, size_t i)
{
	static const size_t blank_at = trailer_marker.find(' ');
	static const size_t after = trailer_marker.size() - blank_at - 1;
	return i >= blank_at && i + after < n &&
	    memcmp(text + i - blank_at, trailer_marker.data(), blank_at) == 0 &&
	    memcmp(text + i + 1, trailer_marker.data() + blank_at + 1, after) == 0;
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
