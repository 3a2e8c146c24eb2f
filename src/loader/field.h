// Compare-field selection: which part of a record takes part in the
// comparison.  The field is decided from each listing as it is loaded and
// handed on as a value to matching, sorting and reporting.
#pragma once

#include <cstddef>

struct Listing;

struct CompareField {
	int field_start = 0;
	int compare_length = 0;
	int record_length = 0;	// of the listing loaded last
	bool fold = false;	// A to Z compare as a to z
	// The first record of each listing without headers.  It is a record
	// whatever its length: a copy of the first line, zero-padded to the
	// record length, so that a field past its end reads zeros.
	const char *unheaded_firsts[2] = {};
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
