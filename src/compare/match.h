// Which records have a partner in the other listing: a record with the
// same compare field.  Listing 1's records go into a hash table on a
// second thread while listing 2 loads; listing 2's records are then walked
// beside listing 1's where the two are in one order, and looked up in the
// table where they are not, on both threads.  Listings in one order from
// their first records on are walked without the table.  Nothing is sorted for this:
// only the records without a partner are, to be reported.
#pragma once

#include <cstdint>

#include "loader/field.h"
#include "platform/threads.h"

struct Listing;

// Whether listing 2's first records, looked at before it loads, are in
// step with listing 1's, so that it will likely be walked without the
// table.  Only the time taken depends on it.
bool looks_in_step(const Listing &first, const Listing &second, const CompareField &field);

// Starts filling the table with the listing's records, by the field given,
// on a second thread; or, unless `fill`, leaves the table to
// finish_matching, which fills it on both when it is needed after all.
// The listing must be left alone until finish_matching, which the returned
// work is handed to.
Background start_matching(const Listing &first, const CompareField &field, bool fill);

// Stops the fill where it is, so that listing 1's records may move; the
// table is filled anew by finish_matching.
void stop_matching(Background &fill);

// Takes its share of the fill and waits for it, fills the table anew when
// loading the second listing moved the compare field, and finds the
// partners of the second listing's records.  Ends the run when the memory for it
// can't be had.
void finish_matching(Background &fill, const Listing &first, const Listing &second,
    const CompareField &field);

// One flag per record of listing `number` (1 or 2), in the order of its
// table before sorting: set when the record has no partner.  Valid after
// finish_matching.
const unsigned char *unmatched_records(int number);
