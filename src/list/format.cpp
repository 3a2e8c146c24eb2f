#include <cstring>
#include <algorithm>
#include <unordered_map>

#include "list/list.h"
#include "listing/columns.h"
#include "listing/escape.h"
#include "listing/title.h"
#include "platform/owners.h"

static const char hex_digits[] = "0123456789ABCDEF";

std::string
title_line(const ListOptions &o, int64_t now)
{
	return title_line(list_version, *o.algorithm, o.width, now, o.roots);
}

// A directory's time changes with every entry made or removed in it, and
// the other kinds hold nothing to hash: only their status is listed.
static bool
has_content(const Record &r)
{
	return r.kind == FileKind::regular || r.kind == FileKind::link;
}

static void
format_digest(char *out, const Record &r, int hash_chars)
{
	if (!has_content(r)) {
		write_no_content_mark(out, hash_chars);
		return;
	}
	if (r.state != record_hashed) {
		write_unreadable_mark(out, hash_chars);
		return;
	}
	for (int i = 0; i < hash_chars / 2; i++) {
		out[2 * i] = hex_digits[r.digest[i] >> 4];
		out[2 * i + 1] = hex_digits[r.digest[i] & 15];
	}
}

void
format_content_columns(char *line, const Record &r)
{
	if (!has_content(r)) {
		memset(line, ' ', mode_at);
	} else if (r.stat_known) {
		format_size(line, r.size);
		format_utc(line + date_at, line + time_at, r.mtime);
	} else {
		format_size(line, -1);
		memset(line + date_at, '?', 10);
		memset(line + time_at, '?', 8);
	}
	line[date_at - 1] = '|';
	line[time_at - 1] = '|';
	line[mode_at - 1] = '|';
}

// The column text of each id met, looked up once: a tree holds files of
// few owners.  Each thread that writes records keeps its own.
using OwnerTexts = std::unordered_map<uint32_t, std::string>;

static const std::string &
owner_column_text(OwnerTexts &texts, uint32_t id, bool group)
{
	auto found = texts.find(id);
	if (found == texts.end())
		found = texts.emplace(id, owner_text(group ? group_name(id) : user_name(id), id)).first;
	return found->second;
}

static void
format_status_columns(char *line, const Record &r)
{
	thread_local OwnerTexts users, groups;
	if (r.stat_known) {
		format_mode(line + mode_at, r.mode);
		format_owner(line + owner_at, owner_column_text(users, r.uid, false));
		format_owner(line + group_at, owner_column_text(groups, r.gid, true));
	} else {
		memset(line + mode_at, '?', mode_chars);
		format_owner(line + owner_at, "?");
		format_owner(line + group_at, "?");
	}
	line[owner_at - 1] = '|';
	line[group_at - 1] = '|';
}

// Written to the width, escaped.  A path longer than the width never gets
// here (the walk refuses it), and is cut if it does.
void
format_path(char *line, const Record &r, const std::string &prefix, const Layout &layout)
{
	size_t path_at = layout.hash_column + size_t(layout.hash_chars) + 3;
	// Kept from record to record, so that no record costs an allocation.
	thread_local std::string path, written;
	path.assign(prefix).append(r.path);
	written.clear();
	append_escaped(written, path.data(), path.size());
	size_t width = size_t(layout.width);
	size_t used = std::min(written.size(), width);
	memcpy(line + path_at, written.data(), used);
	memset(line + path_at + used, ' ', width - used);
}

// Writes exactly layout.record_length bytes.
void
format_record(char *line, const Record &r, const std::string &prefix, const Layout &layout)
{
	format_content_columns(line, r);
	if (!layout.content_only)
		format_status_columns(line, r);
	memcpy(line + layout.hash_column - 2, "| ", 2);
	format_digest(line + layout.hash_column, r, layout.hash_chars);
	memcpy(line + layout.hash_column + size_t(layout.hash_chars), " | ", 3);
	format_path(line, r, prefix, layout);
}
