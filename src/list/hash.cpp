#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "list/list.h"
#include "platform/beneath.h"

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

// Reads exactly size bytes: the record's size column claims them, and a
// file that ends sooner has changed.  A file whose size says 0 (those of
// /proc) is read no further.
static bool
read_into_digest(int fd, size_t size, EVP_MD_CTX *context, char *buffer, bool &short_file)
{
	size_t total = 0;
	while (total < size) {
		ssize_t got = read(fd, buffer, std::min(buffer_size, size - total));
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0)
			return false;
		if (got == 0) {
			short_file = true;
			return true;
		}
		EVP_DigestUpdate(context, buffer, size_t(got));
		counters.bytes_done += uint64_t(got);
		total += size_t(got);
	}
	return true;
}

static bool
same_state(const struct stat &a, const struct stat &b)
{
	return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
	    a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

enum HashResult { hash_done, hash_failed, hash_changed };

// One pass over the file.  The file is checked again once open: it may
// have been replaced since the walk saw it, and only a regular file is
// read.  Its state before and after the pass tells a file that changed
// while it was read.
static HashResult
hash_once(Record &r, EVP_MD_CTX *context, char *buffer)
{
	int fd = open_beneath(roots[r.root].fd, r.path.c_str() + r.rel_offset,
	    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	struct stat before, after;
	if (fd < 0 || fstat(fd, &before) != 0) {
		mark_unreadable(r, fd < 0 ? open_failure(errno) : strerror(errno));
		if (fd >= 0)
			close(fd);
		return hash_failed;
	}
	HashResult result = hash_done;
	bool short_file = false;
	if (!S_ISREG(before.st_mode)) {
		mark_unreadable(r, "no longer a regular file");
		result = hash_failed;
	} else {
		if (size_t(before.st_size) > buffer_size)
			posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
		EVP_DigestInit_ex2(context, digest, nullptr);
		if (!read_into_digest(fd, size_t(before.st_size), context, buffer, short_file) ||
		    !EVP_DigestFinal_ex(context, r.digest, nullptr)) {
			mark_unreadable(r, strerror(errno));
			result = hash_failed;
		} else if (short_file || fstat(fd, &after) != 0 || !same_state(before, after)) {
			result = hash_changed;
		}
		r.stat_known = true;
		r.size = before.st_size;
		r.mtime = before.st_mtim.tv_sec;
	}
	close(fd);
	return result;
}

// A file that changed while it was read is read once more; one that
// changes again gets no hash.
static void
hash_record(Record &r, EVP_MD_CTX *context, char *buffer)
{
	HashResult result = hash_once(r, context, buffer);
	if (result == hash_changed)
		result = hash_once(r, context, buffer);
	if (result == hash_changed)
		mark_unreadable(r, "changed while it was read");
	else if (result == hash_done)
		r.state = record_hashed;
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
