#include "platform/memory.h"

#include <sys/mman.h>

char *
allocate_zeroed(size_t size)
{
	void *p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
	return p == MAP_FAILED ? nullptr : static_cast<char *>(p);
}

void *
allocate_populated(size_t size)
{
	void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
	    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (p == MAP_FAILED)
		return nullptr;
	// In large pages where the system allows: fewer misses of the
	// address cache on writes and reads at random.
	madvise(p, size, MADV_HUGEPAGE);
	madvise(p, size, MADV_POPULATE_WRITE);
	return p;
}

void
release_populated(void *memory, size_t size)
{
	if (memory)
		munmap(memory, size);
}
