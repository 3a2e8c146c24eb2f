#include "platform/memory.h"

#include <cstdint>
#include <sys/mman.h>

// The size of a large page.
static const size_t large_page = size_t(2) << 20;

char *
allocate_zeroed(size_t size)
{
	// Taken a large page longer and trimmed to start on a large page, so
	// that a file mapped over it can be mapped in large pages.
	size_t taken = size >= large_page ? size + large_page : size;
	void *p = mmap(nullptr, taken, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
	if (p == MAP_FAILED)
		return nullptr;
	char *start = static_cast<char *>(p);
	if (taken == size)
		return start;
	char *aligned = reinterpret_cast<char *>(
	    (reinterpret_cast<uintptr_t>(start) + large_page - 1) & ~(large_page - 1));
	if (aligned > start)
		munmap(start, size_t(aligned - start));
	munmap(aligned + size, size_t(start + taken - (aligned + size)));
	return aligned;
}

void *
allocate_populated(size_t size)
{
	void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
	    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (p == MAP_FAILED)
		return nullptr;
	// In small pages: fresh large pages cost the kernel far more to find
	// and clear than the address cache misses they spare the lookups.
	madvise(p, size, MADV_POPULATE_WRITE);
	return p;
}

void
release_populated(void *memory, size_t size)
{
	if (memory)
		munmap(memory, size);
}

char *
allocate_growable(size_t size)
{
	void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (p == MAP_FAILED)
		return nullptr;
	madvise(p, size, MADV_HUGEPAGE);
	return static_cast<char *>(p);
}

char *
grow_region(char *at, size_t size, size_t new_size)
{
	// The pages move with their page tables: nothing is copied.
	void *p = mremap(at, size, new_size, MREMAP_MAYMOVE);
	if (p == MAP_FAILED)
		return nullptr;
	madvise(p, new_size, MADV_HUGEPAGE);
	return static_cast<char *>(p);
}

void
make_read_only(char *at, size_t size)
{
	mprotect(at, size, PROT_READ);
}
