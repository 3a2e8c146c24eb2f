// The walk of two listings in one order without the partner table.
#pragma once

#include "compare/match_key.h"

struct Listing;

// Whether listing 2's first records are nearly all in step with listing
// 1's, so that the listings may be walked without the table.
bool first_records_in_step(const KeyRule &rule, const Listing &first, const Listing &second);

// Finds every partner by the walk alone, flagging the records without one
// in unmatched_first and unmatched_second; false when the listings fall
// out of step, which leaves the flags as they were.
bool match_without_table(const KeyRule &rule, const Listing &first, const Listing &second,
    unsigned char *unmatched_first, unsigned char *unmatched_second);
