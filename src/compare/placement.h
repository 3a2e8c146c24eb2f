// Where records fall among a sorted table's records: the progress counter
// of a pass over a whole listing is shown between the records it reports,
// as if it walked every record of the listing in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compare/key_sort.h"

// For a table sorted by sort_records: counts[t] receives how many of the
// `others` sort before sorted[t] but not before sorted[t - 1] (counts[0]:
// before sorted[0]; counts[count]: the rest).  counts has count + 1
// places.
void count_between(char *const *sorted, size_t count, char *const *others,
    size_t other_count, const SortField &field, uint64_t *counts);
