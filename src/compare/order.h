// Record ordering and lookup.  Both comparators read the one field
// setting in force (field_start, compare_length, match_case), so a table's
// order and the search over it agree.
#pragma once

#include "compare/key_sort.h"

struct Listing;

// Orders two table entries (pointers to record pointers) by the whole tail
// of the record from field_start.
int compare_for_sort(const void *a, const void *b);

// Compares the first compare_length characters from field_start.
int compare_for_search(const void *key, const void *entry);

// The order compare_for_sort defines, for sort_records.
SortField sort_field();

// Sorts the listing's table by the field in force and remembers which
// field_start it was sorted by.
void sort_listing(Listing &listing);

// Starts sorting the listing's table on a second thread, by the field in
// force now; the table must be left alone until finish_sort.
void start_sort(Listing &listing);

// Waits for the sort that start_sort began.
void finish_sort();

// Whether one walk through both sorted tables finds what a search per
// record finds: the compare field must lie within the part of the records
// the tables are sorted by.
bool merge_finds_all();

// Walks both tables, sorted by the field in force, side by side and flags
// each record that has no record with the same compare field in the other
// table: missing_1 gets one flag per record of listing 1, missing_2 of
// listing 2.
void find_missing(const Listing &listing_1, const Listing &listing_2,
    unsigned char *missing_1, unsigned char *missing_2);

// Whether a record with the same compare field is in the listing, whose
// table must be sorted by the field in force.
bool listing_holds(const Listing &listing, const char *record);
