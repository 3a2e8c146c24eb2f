#include "listing/algorithms.h"

// The first is the default.  A 32-digit hash may come from any of several
// 128-bit hashes (md5 and xxh128 here), so only the 64-digit one is known
// by its length.
const HashAlgorithm hash_algorithms[] = {
	{ "md5", "MD5", 32, false },
	{ "sha256", "SHA2-256", 64, true },
	{ "xxh128", nullptr, 32, false },
};
const size_t hash_algorithm_count = sizeof hash_algorithms / sizeof hash_algorithms[0];

const HashAlgorithm *
find_algorithm(std::string_view name)
{
	for (const HashAlgorithm &a : hash_algorithms)
		if (name == a.name)
			return &a;
	return nullptr;
}

const HashAlgorithm *
algorithm_known_by_length(int hex_length)
{
	for (const HashAlgorithm &a : hash_algorithms)
		if (a.known_by_length && a.hex_length == hex_length)
			return &a;
	return nullptr;
}

std::string
algorithm_choices(bool first_marked)
{
	std::string choices;
	for (size_t i = 0; i < hash_algorithm_count; i++) {
		if (i > 0)
			choices += i + 1 == hash_algorithm_count ? " or " : ", ";
		choices += hash_algorithms[i].name;
		if (i == 0 && first_marked)
			choices += " (the default)";
	}
	return choices;
}
