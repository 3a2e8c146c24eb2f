#include "platform/text.h"

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
