// The process-wide state of one run: what the user asked for, the two
// listings and the two streams every stage writes to.  Declared here,
// defined once in run_state.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/files.h"

// Pointers to records inside a listing's buffer; grows when the loader
// finds more lines than were counted.
struct RecordTable {
	char **entries = nullptr;
	size_t capacity = 0;
};

// Where the lines of a file end, as its count found them: the offset of
// each LF, and the numbers of the lines that may be no plain record (a
// CR alone, a zero byte or "--" in them, or another line end than the
// file's first line has).  The loader cuts a line the count found plain
// without reading it again, and any other byte by byte.  Offsets fit in
// 32 bits, as no larger file is loaded.
struct LineEnds {
	uint32_t *ends = nullptr;	// null: not noted, cut every line
	uint64_t count = 0;
	uint64_t capacity = 0;
	uint32_t *odd = nullptr;
	uint64_t odd_count = 0;
	uint64_t odd_capacity = 0;
	uint64_t size = 0;		// of the data counted
	bool cr_lf = false;		// the first line ends in CR LF
};

struct Listing {
	int number = 0;			// 1 or 2, in command-line order
	const char *name = nullptr;	// as typed on the command line
	int handle = -1;		// open to the end, to see the file change
	FileStatus identity;		// of the file when it was opened
	uint64_t size = 0;
	char *buffer = nullptr;		// the file, mapped read-only, then zeros
	size_t buffer_size = 0;
	bool mapped_when_counted = false;	// the buffer holds the file already
	// Without headers the first line is a record whatever its length: it
	// is kept apart, in a copy of its own (see loader/field.h).
	char *unheaded_first = nullptr;
	RecordTable table;
	LineEnds lines;			// from the count, until the load
	// The records padded to the other listing's record length, when it
	// is longer (-c alone); the table points there then.
	char *widened = nullptr;
	uint64_t count = 0;
	int record_length = 0;		// of every record but unheaded_first
	int progress_step = 0;		// records between two progress counts
	uint64_t passed_over = 0;	// lines of another length in the data
	uint64_t first_passed_over_line = 0;
	// The data ended short of a trailer line: lines of the record
	// length that follow before one, and the line the data ended at.
	uint64_t past_the_end = 0;
	uint64_t data_end_line = 0;
	bool trailer_found = false;	// after the column-title line
	// Named in the title line that rowsift-list writes; empty for a
	// listing without one.
	std::string algorithm;
	// Its column-title line, without the line end; empty for a listing
	// without one, or read without headers.
	std::string column_title;
};

// What the command line asked for, with the defaults of a run without
// options.  The option parser alone writes it; every later stage only
// reads it.
struct RunSettings {
	int report_first_missing = 1;
	int report_second_missing = 1;
	int match_case = 1;
	int hash_field = 0;
	int no_headers = 0;
	int field_start = 0;
	int field_length = 0;
	int field_given = 0;		// -d, -l or -w was given
	int change_report = 0;
	int to_printer = 0;
	int output_requested = 0;
	std::string output_name;	// as typed, to be opened
	std::string output_path;	// its full name, to be shown
};

extern RunSettings settings;

// Listing 1 or 2 before anything is known of it.
Listing empty_listing(int number);
extern Listing listings[2];

// The output stream is stdout until an output file is opened; the log
// stream is stderr until a log file is opened.
extern FILE *output_stream;
extern FILE *log_stream;

// Records per listing the loader accepts.
constexpr uint64_t max_records = 8000000;
