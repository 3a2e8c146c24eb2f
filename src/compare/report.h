// The difference passes: every record of one listing whose compare field
// is nowhere in the other, in sorted order.
#pragma once

#include "compare/key_sort.h"
#include "loader/field.h"

struct Listing;

// Reports the records of `scanned` without a partner in `other`, sorting
// its table to do so: listing 1's records missing from listing 2 make the
// first pass, listing 2's missing from listing 1 the second.  After
// finish_matching.  Returns how many records it reported.
int report_missing(Listing &scanned, const Listing &other, const CompareField &field);

// The order records are reported in: the whole rest of the record from
// field_start, folded to lower case under -i.
SortField sort_field(const CompareField &field);
