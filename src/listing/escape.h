// How a path is written into a listing: bytes that would cut a record,
// end the data or be lost among the padding are written as escapes.
#pragma once

#include <cstddef>
#include <string>

// Appends the n bytes of text as a listing shows them.
void append_escaped(std::string &out, const char *text, size_t n);

// The number of bytes append_escaped would append.
size_t escaped_length(const char *text, size_t n);
