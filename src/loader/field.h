// Compare-field selection: which part of a record takes part in the
// comparison.  The field is decided from each listing as it is loaded and
// handed on as a value to matching, sorting and reporting.
#pragma once

#include <cstddef>

struct Listing;

// Without headers the first line of a listing is a record whatever its
// length.  It lies outside its listing's buffer, in a copy of its own
// zero-padded to the record length and ended by a zero byte, so that a
// field past its end reads zeros.  Every stage that looks at records asks
// here which of them is such a line.
struct UnheadedFirsts {
	const char *records[2] = {};	// of listing 1 and 2; null with headers
};

struct CompareField {
	int field_start = 0;
	int compare_length = 0;
	int record_length = 0;	// of the listing loaded last
	bool fold = false;	// A to Z compare as a to z
	bool find_hash_start = false;	// -h: field_start is found in each listing
	int length_given = 0;	// -l or -w; 0 compares to the end
	UnheadedFirsts unheaded;
};

// The field as the options give it, before any listing is loaded.
CompareField field_from_options();

// The field after `listing` is loaded: field_start found anew under -h,
// compare_length from the options or the record length.  Ends the run with
// status 1 when the listing holds records but nothing of them could be
// compared.
CompareField select_field(const Listing &listing, CompareField field);

// The length of a record: the record length, except for the first record
// of a listing without headers, which keeps its own.
size_t record_span(const CompareField &field, const char *record);

// Whether the record is the first of a listing without headers, which
// lies outside its listing's buffer.
bool is_unheaded_first(const CompareField &field, const char *record);

// The first record of listing `number` (1 or 2) when it has no headers;
// null when it has.
const char *unheaded_first(const CompareField &field, int number);
