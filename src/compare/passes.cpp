#include "compare/passes.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "compare/order.h"
#include "loader/extract.h"
#include "output/streams.h"
#include "run_state.h"

// What the lookups found, one flag per record of each listing, when both
// tables could be walked side by side; filled by the first pass.
static std::vector<unsigned char> missing_flags[2];
static bool walked;

static void
walk_tables()
{
	if (walked || !merge_finds_all())
		return;
	missing_flags[0].assign(size_t(listings[0].count), 0);
	missing_flags[1].assign(size_t(listings[1].count), 0);
	find_missing(listings[0], listings[1], missing_flags[0].data(), missing_flags[1].data());
	walked = true;
}

static bool
is_missing(int direction, uint64_t i)
{
	if (walked)
		return missing_flags[direction - 1][i] != 0;
	const Listing &other = listings[2 - direction];
	return !listing_holds(other, listings[direction - 1].table.entries[i]);
}

// Length of the last "Processed" counter text; carried from the first pass
// into the second.
static int counter_length;

static void
show_progress(long processed)
{
	std::string back(size_t(counter_length), '\b');
	write_error("%s", back.c_str());
	counter_length = write_error("Processed %6ld", processed);
}

// The printer gets the record in pieces of 75 characters, the first on the
// line with the two names, then an empty line.
static void
write_printer_record(const char *record)
{
	size_t length = record_span(record);
	size_t pieces = (length + 74) / 75;
	for (size_t i = 0; i < pieces; i++)
		write_text(output_stream, "%.*s\n", int(std::min<size_t>(75, length - i * 75)),
		    record + i * 75);
	write_text(output_stream, "\n");
}

static void
report_record(int direction, const char *record, const char *scanned, const char *other)
{
	if (settings.output_requested) {
		write_text(output_stream, "in file: %s |not in file: %s |", scanned, other);
		if (settings.to_printer)
			write_printer_record(record);
		else
			write_text(output_stream, "%.*s\n", int(record_span(record)), record);
		return;
	}
	if (settings.hash_field) {
		write_text(stdout, "\n");
		write_text(stdout, "Based on field starting at %d, for %d characters \n",
		    settings.field_start, settings.compare_length);
		if (direction == 2)
			write_text(log_stream, "Based on field starting at %d, for %d characters \n",
			    settings.field_start, settings.compare_length);
	}
	write_text(stdout, "\nFound the following entry in %s not in %s\n", scanned, other);
	write_text(stdout, "%.*s\n", int(record_span(record)), record);
}

void
report_missing(int direction)
{
	const Listing &scanned = listings[direction - 1];
	const Listing &other = listings[2 - direction];
	if (settings.output_requested)
		write_text(log_stream, " *****  Comparing records in %d not in %d\n\n",
		    direction, 3 - direction);
	write_error("\n");
	walk_tables();
	uint64_t step = direction == 1 ? uint64_t(settings.progress_step) : 500;
	int found = 0;
	uint64_t next_progress = 0;
	for (uint64_t i = 0; i < scanned.count; i++) {
		if (i == next_progress) {
			show_progress(long(i));
			next_progress += step;
		}
		if (!is_missing(direction, i))
			continue;
		const char *record = scanned.table.entries[i];
		report_record(direction, record, scanned.name, other.name);
		found++;
		settings.mismatch_total++;
	}
	show_progress(long(scanned.count));
	if (direction == 1)
		write_error("\n");
	write_error("   Compare file records in %d not in %d", direction, 3 - direction);
	if (settings.output_requested)
		write_text(log_stream, "   Found %d mismatches\n", found);
}
