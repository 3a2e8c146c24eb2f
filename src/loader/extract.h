// Record extraction: reads a listing whole, finds where its data begins
// and fills its record table with pointers to the fixed-length records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Listing;

// A listing has a header line and a trailer line, or is
// plain data (-x) whose first line is a record whatever its length.
enum Headers { with_headers, without_headers };

// Maps the open file into its buffer, closes it and extracts the records.
// Its records must be expected_length characters long, unless that is 0.
// With two_threads a large listing is scanned in two halves at once.  Ends
// the run with status 1 on failure.
void load_listing(Listing &listing, Headers headers, int expected_length, bool two_threads);

// Extracts the records of the first `length` bytes of the listing's
// buffer (the rest of the buffer is zero) and sets its record length.  The
// records are not ended by a zero byte: each is record_span characters
// long.  Ends the run on failure.
void extract_records(Listing &listing, size_t length, Headers headers, int expected_length = 0,
    bool two_threads = false);

// The change report pairs the files of whole listings: ends the run with
// status 1 when a loaded listing may be cut short, or holds records past
// where its data ended.
void refuse_incomplete(const Listing &listing, Headers headers);

// Up to `most` of the first records of a listing not loaded yet, as far
// as a look at its first lines can tell, without a word: none when its
// file was not mapped when it was counted, has no header, or its records
// are not record_length characters long.
uint64_t peek_first_records(const Listing &listing, int record_length, char **records,
    uint64_t most);

// Under -c, listings of two path widths compare: the records of the
// narrower are copied, padded with blanks to the wider record length.
void widen_records(Listing &listing, int record_length);

// Where the search for the data begins: the column-title line, or the
// header line when no column-title line follows it closely; -1 when
// neither begins within the first 1001 bytes.
long find_start_position(const char *data, size_t length);

// Ends the run: the listing's file could not be read whole.
[[noreturn]] void fail_read(const Listing &listing);

// Ends the run, saying so in the log too, when either listing's file lost
// pages or was written to since it was opened: what was compared of it may
// be torn.
void check_inputs_unchanged(const Listing &first, const Listing &second);
