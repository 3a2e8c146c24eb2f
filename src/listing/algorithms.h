// The hash algorithms a listing may hold, one entry each: adding one is
// adding a line to the table in algorithms.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct HashAlgorithm {
	const char *name;	// as -a takes it and the title line gives it
	// As libcrypto fetches it; null for xxh128, XXH3-128 from libxxhash.
	const char *digest_name;
	int hex_length;	// of its hashes in a record
	// Whether a hash of this length is taken for this algorithm when the
	// listing's title line doesn't name one.  False where other common
	// algorithms make hashes of the same length.
	bool known_by_length;
};

extern const HashAlgorithm hash_algorithms[];
extern const size_t hash_algorithm_count;

// The largest digest of any algorithm, in bytes.
const size_t max_digest_bytes = 32;

// The algorithm of that name; null when there is none.
const HashAlgorithm *find_algorithm(std::string_view name);

// The algorithm known by the length of its hashes alone; null when none.
const HashAlgorithm *algorithm_known_by_length(int hex_length);

// The names of the algorithms as a choice: "md5 or sha256".  With
// `first_marked`, the first (the default) is marked "(the default)".
std::string algorithm_choices(bool first_marked);
