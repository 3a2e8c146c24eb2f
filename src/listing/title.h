// The title line rowsift-list puts first in a listing, e.g.
//   rowsift-list 1.0 listing, md5, path width 200, taken 2025-12-09
//   13:30:47 UTC, of /srv/data
// (one line): what rowsift-list --like and rowsift read of a listing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct HashAlgorithm;

std::string title_line(const char *version, const HashAlgorithm &algorithm, int width,
    int64_t now, const std::vector<std::string> &roots);

// What a title line says; `algorithm` is the name it gives, known or not.
struct Title {
	bool found = false;	// the first line is a title line
	std::string algorithm;
	bool width_given = false;
	int width = 0;	// 0 when the text after "path width" is no number
	bool taken_given = false;	// a well-formed date and time follow "taken"
	int64_t taken = 0;	// seconds since 1970, UTC
};

// Reads the first line of a listing, up to its line end.
Title read_title(const char *data, size_t length);
