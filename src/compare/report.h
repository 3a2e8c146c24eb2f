// The difference passes: every record of one listing whose compare field
// is nowhere in the other, in sorted order.
#pragma once

#include "compare/key_sort.h"
#include "loader/field.h"

// Direction 1 reports the records of listing 1 without a partner in
// listing 2; direction 2 the other way round.  After finish_matching.
// Returns how many records it reported.
int report_missing(int direction, const CompareField &field);

// The order records are reported in: the whole rest of the record from
// field_start, folded to lower case under -i.
SortField sort_field(const CompareField &field);
