// The columns of a record: where rowsift-list writes them, and where a
// reader finds the hash and the path in a record of any listing.  Two
// layouts, told apart by the column-title line:
//
//   SIZE|DATE|TIME|MODE|OWNER|GROUP| HASH | PATH   (every entry)
//   SIZE|DATE|TIME| HASH | PATH                     (content only)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Where the columns rowsift-list writes begin.
const size_t size_chars = 19;
const size_t date_at = size_chars + 1;
const size_t time_at = date_at + 11;
const size_t hash_at = time_at + 10;	// of the content-only layout
const size_t mode_at = time_at + 9;
const size_t mode_chars = 10;
const size_t owner_at = mode_at + mode_chars + 1;
const size_t owner_chars = 16;
const size_t group_at = owner_at + owner_chars + 1;
const size_t status_hash_at = group_at + owner_chars + 2;

// The byte positions of a record; every record of a listing has them all.
struct Layout {
	int hash_chars;
	int width;
	size_t record_length;	// without the line end
	const char *eol;
	bool content_only;	// no mode, owner and group columns
	size_t hash_column;	// where the hash begins
};

Layout layout_for(int hash_chars, int width, bool lf_only, bool content_only);

// Whether a column-title line names a MODE column: the layout of every
// entry, not the content-only one.
bool names_mode_column(std::string_view column_title_line);

// The column-title line, as long as a record.
std::string column_title(const Layout &layout);

// Writes the size into its column of size_chars bytes; a size below 0 is
// unknown.
void format_size(char *column, int64_t size);

// Writes the type and permissions of a status mode as ls -l shows them,
// in mode_chars bytes: "-rwsr-xr-x", "drwxrwxrwt".
void format_mode(char *column, uint32_t mode);

// The text of an owner or group column: the name, or the number grouped
// by threes when there is no name or the name can't stand in the column
// (too long, a blank, '|' or a byte outside printable ASCII, or eight hex
// digits in a row, which rowsift -h would take for the hash).
std::string owner_text(std::string_view name, uint64_t id);

// Writes an owner text into its column of owner_chars bytes, blank-padded.
void format_owner(char *column, std::string_view text);

// Fills 10 bytes with the date and 8 with the time, in UTC, or with '?'
// when they can't be written in that many.
void format_utc(char *date, char *time_of_day, int64_t seconds);

// Writes the mark of a file that could not be read into a hash column of
// hash_chars bytes.
void write_unreadable_mark(char *column, int hash_chars);

// Writes the mark of an entry that has no content to hash (a directory,
// a device, a FIFO, a socket): eight zeros, so that rowsift -h finds the
// column as in any record, then dashes.
void write_no_content_mark(char *column, int hash_chars);

// Whether the text of a hash column is that mark.
bool is_no_content_mark(std::string_view hash);

bool is_hex_digit(char c);

// Whether the text of a hash column is a hash: hex digits only.  The mark
// of a file that could not be read is none.
bool is_real_hash(std::string_view hash);

// Where the hash of a record begins: the first run of eight hex digits
// after the first blank at or after index 3.  -1 when there is none.
// On success *hash_length is the distance to the next blank or the end.
int find_hash(const char *record, int own_length, int *hash_length);

// Where the records of a listing hold their hash and their path, found
// in one of them: the hash as find_hash finds it, the path after the "|"
// that closes the hash column and the blank that follows it.
struct Columns {
	int hash_start = 0;
	int hash_length = 0;
	int path_start = 0;
};

// hash_start is -1 when the record holds no hash, and path_start is the
// record's length when nothing follows the hash column.
Columns locate_columns(const char *record, int length);
