#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <openssl/evp.h>
#include <xxhash.h>

#include "list/list.h"
#include "platform/beneath.h"
#include "platform/tree.h"

// Fetched once: fetching looks the algorithm up in the provider tables
// under a lock, which per file would cost more than hashing a small one.
// Null for xxh128, which libxxhash computes.
static EVP_MD *digest;

// Large reads keep the system call cost well below the hashing cost.
static const size_t buffer_size = 512 << 10;

// What one hashing thread keeps for all its files: the state of the
// algorithm's library and the buffer files are read into.
struct Hasher {
	EVP_MD_CTX *context = nullptr;
	XXH3_state_t *xxh_state = nullptr;
	char *buffer = nullptr;
};

void
fetch_digest()
{
	if (!options.algorithm->digest_name)
		return;
	digest = EVP_MD_fetch(nullptr, options.algorithm->digest_name, nullptr);
	if (!digest)
		list_fail("the %s algorithm is not available from libcrypto", options.algorithm->name);
}

bool
hash_text(const std::string &text, unsigned char *digest_out)
{
	if (!digest) {
		XXH128_canonical_t canonical;
		XXH128_canonicalFromHash(&canonical, XXH3_128bits(text.data(), text.size()));
		memcpy(digest_out, canonical.digest, sizeof canonical.digest);
		return true;
	}
	return EVP_Digest(text.data(), text.size(), digest_out, nullptr, digest, nullptr);
}

static void
start_hash(Hasher &h)
{
	if (h.xxh_state)
		XXH3_128bits_reset(h.xxh_state);
	else
		EVP_DigestInit_ex2(h.context, digest, nullptr);
}

static void
add_to_hash(Hasher &h, size_t length)
{
	if (h.xxh_state)
		XXH3_128bits_update(h.xxh_state, h.buffer, length);
	else
		EVP_DigestUpdate(h.context, h.buffer, length);
}

// An XXH3-128 hash is written high half first, each half's bytes from the
// most significant, as xxhsum prints it.
static bool
finish_hash(Hasher &h, unsigned char *out)
{
	if (!h.xxh_state)
		return EVP_DigestFinal_ex(h.context, out, nullptr);
	XXH128_canonical_t canonical;
	XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(h.xxh_state));
	memcpy(out, canonical.digest, sizeof canonical.digest);
	return true;
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
read_into_hash(int fd, size_t size, Hasher &h, bool &short_file)
{
	size_t total = 0;
	while (total < size) {
		int64_t got = read_some(fd, h.buffer, std::min(buffer_size, size - total));
		if (got < 0)
			return false;
		if (got == 0) {
			short_file = true;
			return true;
		}
		add_to_hash(h, size_t(got));
		counters.bytes_done += uint64_t(got);
		total += size_t(got);
	}
	return true;
}

static bool
same_state(const FileStatus &a, const FileStatus &b)
{
	return a.size == b.size && a.modified_seconds == b.modified_seconds &&
	    a.modified_nanoseconds == b.modified_nanoseconds && a.inode == b.inode &&
	    a.device == b.device;
}

enum HashResult { hash_done, hash_failed, hash_changed };

// One pass over the file.  The file is checked again once open: it may
// have been replaced since the walk saw it, and only a regular file is
// read.  Its state before and after the pass tells a file that changed
// while it was read.
static HashResult
hash_once(Record &r, Hasher &h)
{
	int fd = open_file_beneath(roots[r.root].fd, r.path.c_str() + r.rel_offset);
	FileStatus before, after;
	if (fd < 0 || !status_of(fd, before)) {
		mark_unreadable(r, fd < 0 ? open_failure(errno) : strerror(errno));
		if (fd >= 0)
			close_file(fd);
		return hash_failed;
	}
	HashResult result = hash_done;
	bool short_file = false;
	if (before.kind != FileKind::regular) {
		mark_unreadable(r, "no longer a regular file");
		result = hash_failed;
	} else {
		if (size_t(before.size) > buffer_size)
			advise_sequential(fd);
		start_hash(h);
		if (!read_into_hash(fd, size_t(before.size), h, short_file) ||
		    !finish_hash(h, r.digest)) {
			mark_unreadable(r, strerror(errno));
			result = hash_failed;
		} else if (short_file || !status_of(fd, after) || !same_state(before, after)) {
			result = hash_changed;
		}
		r.stat_known = true;
		r.size = before.size;
		r.mtime = before.modified_seconds;
	}
	close_file(fd);
	return result;
}

// A file whose hash an earlier listing holds is not read (see reuse.cpp).
// A file that changed while it was read is read once more; one that
// changes again gets no hash.
static void
hash_record(Record &r, Hasher &h)
{
	if (r.kind != FileKind::regular)
		return;
	if (reuse_earlier_hash(r)) {
		counters.reused++;
		counters.files_done++;
		return;
	}
	HashResult result = hash_once(r, h);
	if (result == hash_changed)
		result = hash_once(r, h);
	if (result == hash_changed)
		mark_unreadable(r, "changed while it was read");
	else if (result == hash_done)
		r.state = record_hashed;
	counters.files_done++;
}

void
hash_records()
{
	Hasher h;
	if (digest)
		h.context = EVP_MD_CTX_new();
	else
		h.xxh_state = XXH3_createState();
	h.buffer = static_cast<char *>(aligned_alloc(4096, buffer_size));
	if (!(h.context || h.xxh_state) || !h.buffer)
		list_fail("out of memory");
	while (Record *r = next_record())
		hash_record(*r, h);
	free(h.buffer);
	XXH3_freeState(h.xxh_state);
	EVP_MD_CTX_free(h.context);
}
