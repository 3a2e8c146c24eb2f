#include "bytes.h"

#include <cstdint>
#include <cstring>

int
compare_nocase(const char *a, const char *b, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		int ca = fold_case(static_cast<unsigned char>(a[i]));
		int cb = fold_case(static_cast<unsigned char>(b[i]));
		if (ca != cb)
			return ca - cb;
		if (ca == 0)
			return 0;
	}
	return 0;
}

int
compare_nocase_readable(const char *a, const char *b, size_t n)
{
	// Bytes that are equal are equal folded too: they are passed over
	// eight at a time up to the first difference or the first zero byte.
	size_t i = 0;
	for (; i + 8 <= n; i += 8) {
		uint64_t wa, wb;
		memcpy(&wa, a + i, 8);
		memcpy(&wb, b + i, 8);
		if (wa != wb)
			break;
		if (has_zero_byte(wa))
			return 0;
	}
	return compare_nocase(a + i, b + i, n - i);
}
