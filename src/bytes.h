// Byte comparisons the comparators are built on.
#pragma once

#include <cstddef>
#include <cstdint>

// Compares at most n bytes, stopping at a zero byte, with both sides
// folded to lower case (A to Z only), so "_" sorts before letters.
int compare_nocase(const char *a, const char *b, size_t n);

// The same for two strings that are both readable for all n bytes, even
// past a zero byte; faster on long equal stretches.
int compare_nocase_readable(const char *a, const char *b, size_t n);

inline unsigned char
fold_case(unsigned char c)
{
	return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Whether any of the eight bytes of a word is zero.
inline bool
has_zero_byte(uint64_t word)
{
	return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
}

// Eight characters with A to Z folded to lower case, as fold_case does
// one at a time.
inline uint64_t
fold_word(uint64_t w)
{
	const uint64_t ones = 0x0101010101010101ull;
	uint64_t low = w & (0x7f * ones);
	uint64_t from_a = low + (0x80 - 'A') * ones;	// top bit set from 'A' on
	uint64_t past_z = low + (0x80 - 'Z' - 1) * ones;	// top bit set past 'Z'
	uint64_t upper = from_a & ~past_z & ~w & (0x80 * ones);
	return w | (upper >> 2);
}
