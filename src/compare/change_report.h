// The change report (-c): the records of the two listings paired by path
// and by hash, and reported as files changed, moved, added, removed and
// touched, sorted by path, then one total line.
#pragma once

#include "loader/field.h"

struct Listing;

// After finish_matching by the whole record: only the records without a
// partner are looked at.  Returns how many changes it listed.  Ends the
// run with status 1 when a listing's first record holds no hash, or no
// path after it.
int report_changes(const Listing &first, const Listing &second, const CompareField &field);
