#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "list/list.h"

// Fetched once: fetching looks the algorithm up in the provider tables
// under a lock, which per file would cost more than hashing a small one.
static EVP_MD *digest;

// Large reads keep the system call cost well below the hashing cost.
static const size_t buffer_size = 512 << 10;

size_t
digest_size(Algorithm a)
{
	return a == Algorithm::md5 ? 16 : 32;
}

void
fetch_digest()
{
	digest = EVP_MD_fetch(nullptr, options.algorithm == Algorithm::md5 ? "MD5" : "SHA2-256", nullptr);
	if (!digest)
		fail("the %s algorithm is not available from libcrypto",
		    options.algorithm == Algorithm::md5 ? "md5" : "sha256");
}

// The next record to hash, waiting for the walk to find one; null when
// there is none left or the run is to stop.
static Record *
next_record()
{
	std::unique_lock<std::mutex> held(work.lock);
	work.more.wait(held, [] {
		return work.stop || work.walk_done || work.next < work.records.size();
	});
	if (work.stop || work.next >= work.records.size())
		return nullptr;
	return &work.records[work.next++];
}

static void
mark_unreadable(Record &r, const std::string &reason)
{
	r.state = record_unreadable;
	counters.unreadable++;
	report_path_problem(shown_path(roots[r.root], r.path.substr(r.rel_offset)), reason);
}

// Reads to the end of the file.  A short read that reaches the size the
// file had when opened is taken for the end, which spares most files the
// read that would return nothing.
static bool
read_into_digest(int fd, size_t size, EVP_MD_CTX *context, char *buffer)
{
	size_t total = 0;
	for (;;) {
		ssize_t got = read(fd, buffer, buffer_size);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			return got == 0;
		EVP_DigestUpdate(context, buffer, size_t(got));
		counters.bytes_done += uint64_t(got);
		total += size_t(got);
		if (size_t(got) < buffer_size && total >= size)
			return true;
	}
}

// The file is checked again once open: it may have been replaced since the
// walk saw it, and only a regular file is read.
static void
hash_record(Record &r, EVP_MD_CTX *context, char *buffer)
{
	int fd = openat(roots[r.root].fd, r.path.c_str() + r.rel_offset,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0) {
		mark_unreadable(r, strerror(errno));
	} else if (!S_ISREG(st.st_mode)) {
		mark_unreadable(r, "no longer a regular file");
	} else {
		r.stat_known = true;
		r.size = st.st_size;
		r.mtime = st.st_mtim.tv_sec;
		if (size_t(st.st_size) > buffer_size)
			posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
		EVP_DigestInit_ex2(context, digest, nullptr);
		if (read_into_digest(fd, size_t(st.st_size), context, buffer) &&
		    EVP_DigestFinal_ex(context, r.digest, nullptr))
			r.state = record_hashed;
		else
			mark_unreadable(r, strerror(errno));
	}
	if (fd >= 0)
		close(fd);
	counters.files_done++;
}

void
hash_records()
{
	EVP_MD_CTX *context = EVP_MD_CTX_new();
	char *buffer = static_cast<char *>(aligned_alloc(4096, buffer_size));
	if (!context || !buffer)
		fail("out of memory");
	while (Record *r = next_record())
		hash_record(*r, context, buffer);
	free(buffer);
	EVP_MD_CTX_free(context);
}
