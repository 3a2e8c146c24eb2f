// The process-wide state of one run: the settings, the two listings and
// the two streams every stage writes to.  Declared here, defined once in
// run_state.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Pointers to records inside a listing's buffer; grows when the loader
// finds more lines than were counted.
struct RecordTable {
	char **entries = nullptr;
	size_t capacity = 0;
};

struct Listing {
	const char *name = nullptr;	// as typed on the command line
	int handle = -1;
	uint64_t size = 0;
	char *buffer = nullptr;		// the file, mapped read-only, then zeros
	size_t buffer_size = 0;
	bool mapped_when_counted = false;	// the buffer holds the file already
	char *first_copy = nullptr;	// first record without headers
	RecordTable table;
	uint64_t count = 0;
};

struct RunSettings {
	int report_first_missing = 0;
	int report_second_missing = 0;
	int match_case = 0;
	int hash_field = 0;
	int no_headers = 0;
	int field_start = 0;
	int field_length = 0;
	int to_printer = 0;
	int output_requested = 0;
	std::string output_path;
	std::string log_path;

	int record_length = 0;
	int expected_length = 0;
	int progress_step = 0;
	int compare_length = 0;
	int mismatch_total = 0;
};

extern RunSettings settings;
extern Listing listings[2];

// The output stream is stdout until an output file is opened; the log
// stream is stderr until a log file is opened.
extern FILE *output_stream;
extern FILE *log_stream;

// Records per listing the loader accepts.
constexpr uint64_t max_records = 8000000;
