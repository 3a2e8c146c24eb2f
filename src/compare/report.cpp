#include "compare/report.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "compare/placement.h"
#include "compare/match.h"
#include "loader/inputs.h"
#include "output/messages.h"
#include "run_state.h"

// Moves the records that have no partner to the front of the listing's
// table and returns how many there are; the rest follow them.
static uint64_t
move_unmatched_first(Listing &l, const unsigned char *unmatched)
{
	uint64_t moved = 0;
	for (uint64_t i = 0; i < l.count; i++)
		if (unmatched[i])
			std::swap(l.table.entries[moved++], l.table.entries[i]);
	return moved;
}

SortField
sort_field(const CompareField &compared)
{
	SortField field;
	field.start = compared.field_start;
	field.length = compared.record_length - compared.field_start;
	field.fold = compared.fold;
	return field;
}

// Where each of the first `count` records, now in order, stands in the
// whole listing in that order: the progress counter on the console comes
// between them as it would in a pass over the whole sorted table.
static std::vector<uint64_t>
places_in_listing(const Listing &l, uint64_t count, const SortField &field)
{
	std::vector<uint64_t> places;
	try {
		places.resize(size_t(count) + 1);
		count_between(l.table.entries, size_t(count), l.table.entries + count,
		    size_t(l.count - count), field, places.data());
	} catch (const std::bad_alloc &) {
		fail_table_memory();
	}
	uint64_t before = 0;
	for (uint64_t t = 0; t < count; t++) {
		before += places[t];
		places[t] = before + t;
	}
	return places;
}

// Length of the last "Processed" counter text; carried from the first pass
// into the second.
static int counter_length;
// The counters not yet written: those that come between two records go
// out in one write instead of two each.
static std::string progress_text;

static void
show_progress(long processed)
{
	progress_text.append(size_t(counter_length), '\b');
	char shown[32];
	counter_length = snprintf(shown, sizeof shown, "Processed %6ld", processed);
	progress_text += shown;
}

static void
write_progress()
{
	if (!progress_text.empty())
		write_error("%s", progress_text.c_str());
	progress_text.clear();
}

// The printer gets the record in pieces of 75 characters, the first on the
// line with the two names, then an empty line.
static void
write_printer_record(const char *record, size_t length)
{
	size_t pieces = (length + 74) / 75;
	for (size_t i = 0; i < pieces; i++)
		write_text(output_stream, "%.*s\n", int(std::min<size_t>(75, length - i * 75)),
		    record + i * 75);
	write_text(output_stream, "\n");
}

static void
report_record(int direction, const char *record, const CompareField &field,
    const char *scanned, const char *other)
{
	int length = int(record_span(field, record));
	if (settings.output_requested) {
		write_text(output_stream, "in file: %s |not in file: %s |", scanned, other);
		if (settings.to_printer)
			write_printer_record(record, size_t(length));
		else
			write_text(output_stream, "%.*s\n", length, record);
		return;
	}
	if (settings.hash_field) {
		write_text(stdout, "\n");
		write_text(stdout, "Based on field starting at %d, for %d characters \n",
		    field.field_start, field.compare_length);
		if (direction == 2)
			write_text(log_stream, "Based on field starting at %d, for %d characters \n",
			    field.field_start, field.compare_length);
	}
	write_text(stdout, "\nFound the following entry in %s not in %s\n", scanned, other);
	write_text(stdout, "%.*s\n", length, record);
}

int
report_missing(Listing &scanned, const Listing &other, const CompareField &field)
{
	int direction = scanned.number;
	if (settings.output_requested)
		write_text(log_stream, " *****  Comparing records in %d not in %d\n\n",
		    direction, 3 - direction);
	write_error("\n");
	uint64_t count = move_unmatched_first(scanned, unmatched_records(direction));
	SortField order = sort_field(field);
	sort_records(scanned.table.entries, size_t(count), order);
	// Into a file the records go apart from the counter: no places needed.
	std::vector<uint64_t> places;
	if (!settings.output_requested)
		places = places_in_listing(scanned, count, order);
	// The first pass counts in the steps of the listing loaded last.
	uint64_t step = direction == 1 ? uint64_t(other.progress_step) : 500;
	uint64_t next_progress = 0;
	for (uint64_t t = 0; t < count; t++) {
		uint64_t place = places.empty() ? 0 : places[t];
		for (; next_progress <= place && next_progress < scanned.count; next_progress += step)
			show_progress(long(next_progress));
		write_progress();
		stop_if_asked();
		report_record(direction, scanned.table.entries[t], field, scanned.name, other.name);
	}
	for (; next_progress < scanned.count; next_progress += step)
		show_progress(long(next_progress));
	show_progress(long(scanned.count));
	write_progress();
	if (direction == 1)
		write_error("\n");
	write_error("   Compare file records in %d not in %d", direction, 3 - direction);
	if (settings.output_requested)
		write_text(log_stream, "   Found %d mismatches\n", int(count));
	return int(count);
}
