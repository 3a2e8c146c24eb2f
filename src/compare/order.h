// Record ordering and lookup.  Both comparators read the one field
// setting in force (field_start, compare_length, match_case), so a table's
// order and the search over it agree.
#pragma once

struct Listing;

// Orders two table entries (pointers to record pointers) by the whole tail
// of the record from field_start.
int compare_for_sort(const void *a, const void *b);

// Compares the first compare_length characters from field_start.
int compare_for_search(const void *key, const void *entry);

// Sorts the listing's table by the field in force and remembers which
// field_start it was sorted by.
void sort_listing(Listing &listing);

// Whether a record with the same compare field is in the listing, whose
// table must be sorted by the field in force.
bool listing_holds(const Listing &listing, const char *record);
