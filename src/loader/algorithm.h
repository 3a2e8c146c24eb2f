// Listings hashed with different algorithms, or written in two layouts,
// compare as if every file had changed; they are refused instead.
#pragma once

#include "loader/field.h"

// After both listings are loaded: ends the run with status 1 when their
// title lines name different algorithms, or, under -c and -h, when the
// hashes in their first records differ in length.
void refuse_mixed_algorithms(const Listing &first, const Listing &second,
    const CompareField &field);

// Under -c and -h, while listing 2 loads: ends the run with status 1 when both
// listings have a column-title line and the names in them differ.  It
// runs before their record lengths are compared, which then differ too.
void refuse_mixed_columns(const Listing &first, const Listing &second);
