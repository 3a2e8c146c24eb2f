#include "compare/match_key.h"

#include <chrono>

// The seed differs from run to run, so that no listing can be made to
// crowd the table on purpose.
static uint64_t
run_seed()
{
	static const uint64_t seed = mix(
	    uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ 0x9e3779b97f4a7c15ull,
	    reinterpret_cast<uintptr_t>(&seed) | 1);
	return seed;
}

KeyRule
key_rule(const CompareField &field)
{
	KeyRule k;
	k.field = field;
	k.start = size_t(std::max(field.field_start, 0));
	k.length = size_t(std::max(field.compare_length, 0));
	size_t record_length = size_t(std::max(field.record_length, 0));
	size_t tail = record_length > k.start ? record_length - k.start : 0;
	k.last_offset = std::min(k.length, tail) > 0 ? std::min(k.length, tail) - 1 : 0;
	k.seed = run_seed();
	k.word_salt = mix(k.seed, 0xa0761d6478bd642full);
	k.tail_salt = mix(k.seed, 0xe7037ed1a0b428dbull);
	return k;
}

bool
same_rule(const KeyRule &a, const KeyRule &b)
{
	return a.start == b.start && a.length == b.length &&
	    a.field.record_length == b.field.record_length && a.field.fold == b.field.fold;
}
