#include "platform/memory.h"

#include <sys/mman.h>

// Older headers lack it; older kernels refuse it, which costs only speed.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

char *
allocate_zeroed(size_t size)
{
	void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
	    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (p == MAP_FAILED)
		return nullptr;
	// Reading a file into fresh pages would fault on every 4 KiB page;
	// large pages, all mapped at once, make the read cost a plain copy.
	madvise(p, size, MADV_HUGEPAGE);
	madvise(p, size, MADV_POPULATE_WRITE);
	return static_cast<char *>(p);
}

void
release_zeroed(char *buffer, size_t size)
{
	if (buffer)
		munmap(buffer, size);
}
