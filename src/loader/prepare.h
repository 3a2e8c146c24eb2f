// Input preparation: counts both files, sizes the record tables, opens
// both files and gives each a region of zeros to be mapped into.
#pragma once

#include <cstdint>

// Ends the run with status 1 on any failure.
void prepare_inputs(char **argv);

// Lines of a file as a 1024-character line reader counts them: a line of
// 1023 characters or more counts once for each 1023 and once more for the
// rest with its line end.  -1 when the file can't be opened.
int64_t count_lines(const char *name);

// Closes whatever input handles and output files are open; returns status.
int release_inputs(int status);

// Grows a record table to hold at least one more entry than count.
void grow_table(struct RecordTable &table, uint64_t count);

// Ends the run for want of memory for the records.
[[noreturn]] void fail_table_memory();
