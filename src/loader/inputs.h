// Input preparation: counts both files, sizes the record tables, opens
// both files and gives each a buffer: its pages as mapped for the count,
// or a region of zeros to be mapped into; a pipe's, what was read of it
// as it was counted.
#pragma once

#include <cstdint>

struct RecordTable;

// Ends the run with status 1 on any failure.
void prepare_inputs(char **argv);

// Grows a record table to hold at least one more entry than count.
void grow_table(RecordTable &table, uint64_t count);

// Ends the run for want of memory for the records.
[[noreturn]] void fail_table_memory();
