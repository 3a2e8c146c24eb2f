// What makes a record's key in the matching: which characters of the
// compare field, and how they hash and compare.  Kept inline: the fill,
// the lookups and the walk run these once or more per record.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "bytes.h"
#include "loader/field.h"

// What makes a record's key: the compare field the table was filled by,
// and the hash seeds.
struct KeyRule {
	CompareField field;
	size_t start = 0;
	size_t length = 0;
	size_t last_offset = 0;	// of the field's last character in most records
	uint64_t seed = 0;
	uint64_t word_salt = 0;	// mixed into every full pair of words
	uint64_t tail_salt = 0;	// and into the words that end the field
};

__extension__ typedef unsigned __int128 product_t;

inline uint64_t
mix(uint64_t a, uint64_t b)
{
	product_t p = product_t(a) * b;
	return uint64_t(p) ^ uint64_t(p >> 64);
}

// The rule by the compare field given, with this run's seed.
KeyRule key_rule(const CompareField &field);

// Whether keys by the two rules are the same keys.
bool same_rule(const KeyRule &a, const KeyRule &b);

// The characters of the compare field: compare_length of them, or fewer
// where the record ends first.  A first record without headers keeps its
// own length when longer, and reads as zeros up to the record length when
// shorter.
inline size_t
key_length(const KeyRule &k, const char *record)
{
	size_t end = std::max(size_t(std::max(k.field.record_length, 0)),
	    record_span(k.field, record));
	return end > k.start ? std::min(k.length, end - k.start) : 0;
}

// Eight characters as they are hashed.  Folded, with the case bit of
// every byte set: fields that are equal with A to Z folded agree in every
// other bit, and a few more that are not (say "@" and "`") share a hash,
// which the comparison then tells apart; this is a third of the cost of
// folding.
inline uint64_t
key_word(const KeyRule &k, const char *p, size_t n = 8)
{
	uint64_t w = 0;
	memcpy(&w, p, n);
	return k.field.fold ? w | 0x2020202020202020ull : w;
}

inline uint64_t
hash_key(const KeyRule &k, const char *record)
{
	const char *p = record + k.start;
	size_t n = key_length(k, record);
	uint64_t h = k.seed ^ n;
	size_t i = 0;
	for (; i + 16 <= n; i += 16)
		h = mix(key_word(k, p + i) ^ k.word_salt, key_word(k, p + i + 8) ^ h);
	if (i < n) {
		// The last characters as words that end where the field ends.
		uint64_t a, b = 0;
		if (n >= 16) {
			a = key_word(k, p + n - 16);
			b = key_word(k, p + n - 8);
		} else if (n >= 8) {
			a = key_word(k, p);
			b = key_word(k, p + n - 8);
		} else {
			a = key_word(k, p, n);
		}
		h = mix(a ^ k.tail_salt, b ^ h);
	}
	return mix(h ^ k.word_salt, 0x9fb21c651e98df25ull);
}

// Zero bytes occur in a compare field only in a first record without
// headers, and from there to its end, so comparing whole fields finds
// what comparing up to a zero byte finds.
inline bool
same_key(const KeyRule &k, const char *a, const char *b)
{
	size_t n = key_length(k, a);
	if (n != key_length(k, b))
		return false;
	// Fields the same byte for byte are the same folded too: most
	// partners are, and the library comparison is the faster.
	if (memcmp(a + k.start, b + k.start, n) == 0)
		return true;
	return k.field.fold && compare_nocase_readable(a + k.start, b + k.start, n) == 0;
}
