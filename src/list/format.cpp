#include <cstring>
#include <algorithm>

#include "list/list.h"
#include "listing/columns.h"
#include "listing/escape.h"
#include "listing/title.h"

static const char hex_digits[] = "0123456789ABCDEF";

std::string
title_line(const ListOptions &o, int64_t now)
{
	return title_line(list_version, *o.algorithm, o.width, now, o.roots);
}

static void
format_digest(char *out, const Record &r, int hash_chars)
{
	if (r.state != record_hashed) {
		write_unreadable_mark(out, hash_chars);
		return;
	}
	for (int i = 0; i < hash_chars / 2; i++) {
		out[2 * i] = hex_digits[r.digest[i] >> 4];
		out[2 * i + 1] = hex_digits[r.digest[i] & 15];
	}
}

// Writes exactly layout.record_length bytes.  A path longer than the
// width never gets here (the walk refuses it), and is cut if it does.
void
format_record(char *line, const Record &r, const std::string &prefix, const Layout &layout)
{
	format_size(line, r.stat_known ? r.size : -1);
	line[date_at - 1] = '|';
	if (r.stat_known) {
		format_utc(line + date_at, line + time_at, r.mtime);
	} else {
		memset(line + date_at, '?', 10);
		memset(line + time_at, '?', 8);
	}
	line[time_at - 1] = '|';
	memcpy(line + hash_at - 2, "| ", 2);
	format_digest(line + hash_at, r, layout.hash_chars);
	size_t path_at = hash_at + size_t(layout.hash_chars);
	memcpy(line + path_at, " | ", 3);
	path_at += 3;
	std::string path = prefix + r.path;
	std::string written;
	append_escaped(written, path.data(), path.size());
	size_t width = size_t(layout.width);
	size_t used = std::min(written.size(), width);
	memcpy(line + path_at, written.data(), used);
	memset(line + path_at + used, ' ', width - used);
}
