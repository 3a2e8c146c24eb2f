// Compare-field selection: which part of a record takes part in the
// comparison, as field_start and compare_length.
#pragma once

struct Listing;

// Decides field_start (under -h) and compare_length from the listing just
// loaded.  Ends the run with status 1 when the listing holds records but
// nothing of them could be compared.
void select_field(const Listing &listing);

// Where the hash of a record begins: the first run of eight hex digits
// after the first blank at or after index 3.  -1 when there is none.
// On success *hash_length is the distance to the next blank or the end.
int find_hash(const char *record, int own_length, int *hash_length);
