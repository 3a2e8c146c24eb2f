#include "platform/memory.h"

#include <sys/mman.h>

char *
allocate_zeroed(size_t size)
{
	void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
	    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	return p == MAP_FAILED ? nullptr : static_cast<char *>(p);
}

void
release_zeroed(char *buffer, size_t size)
{
	if (buffer)
		munmap(buffer, size);
}
