#include "front/driver.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "compare/change_report.h"
#include "compare/match.h"
#include "compare/report.h"
#include "front/options.h"
#include "front/usage.h"
#include "listing/markers.h"
#include "loader/algorithm.h"
#include "loader/extract.h"
#include "loader/field.h"
#include "loader/inputs.h"
#include "output/messages.h"
#include "output/outputs.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "run_state.h"

static void
announce_listing(const Listing &l)
{
	write_text(stdout, l.number == 1 ? "\nInput file #%d:   %s  %ld records\n" :
	    "Input file #%d:   %s  %ld records\n", l.number, l.name, long(l.count));
	if (settings.output_requested)
		write_text(log_stream, l.number == 1 ? "Input file #%d:   %s  %ld records\n" :
		    "Input file #%d:   %s  %ld records\n\n", l.number, l.name, long(l.count));
}

// Lines of another length are passed over, as the listing format has it;
// the note keeps that from passing in silence, where a listing with one
// long path would otherwise give "Found 0 mismatches".
static void
note_passed_over(FILE *stream, const Listing &l)
{
	if (l.passed_over == 1)
		write_text(stream, "\nNote: 1 line of another length was passed over in %s"
		    " (line %llu)\n", l.name, (unsigned long long)l.first_passed_over_line);
	else if (l.passed_over > 1)
		write_text(stream, "\nNote: %llu lines of another length were passed over in %s"
		    " (the first is line %llu)\n", (unsigned long long)l.passed_over, l.name,
		    (unsigned long long)l.first_passed_over_line);
}

// The data ends at the first empty or very short line, as the listing
// format has it; a stray one, or a second CR in every line end, would
// otherwise drop the records after it in silence.
static void
note_past_the_end(FILE *stream, const Listing &l)
{
	if (l.past_the_end == 1)
		write_text(stream, "\nNote: 1 line of the record length follows the end of the data"
		    " in %s (it ended at line %llu)\n", l.name, (unsigned long long)l.data_end_line);
	else if (l.past_the_end > 1)
		write_text(stream, "\nNote: %llu lines of the record length follow the end of the data"
		    " in %s (it ended at line %llu)\n", (unsigned long long)l.past_the_end, l.name,
		    (unsigned long long)l.data_end_line);
}

// A listing whose writer was stopped (a full disk, a size limit, "| head")
// still holds whole records; only the missing trailer tells.  Listings
// without headers have none.
static void
note_cut_short(FILE *stream, const Listing &l)
{
	if (!settings.no_headers && !l.trailer_found)
		write_text(stream, "\nNote: %s has no \"%.*s\" line; it may be cut short\n", l.name,
		    int(trailer_marker.size()), trailer_marker.data());
}

static void
note_listing(FILE *stream, const Listing &l)
{
	note_passed_over(stream, l);
	note_past_the_end(stream, l);
	note_cut_short(stream, l);
}

static void
report_mismatches(Listing &first, Listing &second, const CompareField &field)
{
	int mismatch_total = 0;
	if (settings.report_first_missing)
		mismatch_total += report_missing(first, second, field);
	stop_if_asked();
	if (settings.report_second_missing)
		mismatch_total += report_missing(second, first, field);
	stop_if_asked();
	check_inputs_unchanged(first, second);
	write_text(stdout, "\n\nFound %d mismatches\n", mismatch_total);
}

// A run that compared ends with status 0, except that the change report
// says with 3 that it listed a change, so that a script need not read it.
static int
status_of_changes(int listed)
{
	return listed ? 3 : 0;
}

static Headers
headers_from_options()
{
	return settings.no_headers ? without_headers : with_headers;
}

// Loads a listing as the options say; the change report takes whole
// listings only.
static void
load_for_report(Listing &l, int expected_length, bool two_threads)
{
	load_listing(l, headers_from_options(), expected_length, two_threads);
	if (settings.change_report)
		refuse_incomplete(l, headers_from_options());
}

// Listings of two path widths, which only -c loads: the narrower is
// padded to the wider record length.  Listing 1's records are in the
// table being filled; it is stopped before they move.
static void
align_record_lengths(Background &fill, Listing &first, Listing &second)
{
	if (first.record_length == 0 || second.record_length == first.record_length)
		return;
	if (second.record_length < first.record_length) {
		widen_records(second, first.record_length);
		return;
	}
	stop_matching(fill);
	widen_records(first, second.record_length);
}

void
run_program(int argc, char **argv)
{
	// Memory that can't be had, wherever it is asked for, ends the run
	// with the memory message and the files closed, never with an abort.
	std::set_new_handler(fail_table_memory);
	set_up_streams();
	output_stream = stdout;
	log_stream = stderr;
	// Alone on the command line these two are no file names.
	if (argc == 2 && strcmp(argv[1], "--help") == 0)
		show_help();
	if (argc == 2 && strcmp(argv[1], "--version") == 0)
		show_version();
	if (parse_options(argc, argv) < 3)
		show_usage();
	refuse_conflicting_options();
	watch_stop_signals();
	prepare_inputs(argv);
	stop_if_asked();
	Listing &first = listings[0];
	Listing &second = listings[1];

	// Listing 1 is cut into records on both processors.
	load_for_report(first, 0, true);
	CompareField field = select_field(first, field_from_options());
	announce_listing(first);
	int sorting = write_error("Sorting records");
	// Its records go into the table on the second processor while this
	// one loads listing 2, then on both; listings that look in one order
	// likely need no table, and listing 2 is loaded on both instead.
	bool in_step = looks_in_step(first, second, field);
	Background fill = start_matching(first, field, !in_step);
	erase_transient(sorting);

	stop_if_asked();
	load_for_report(second, first.record_length, in_step);
	align_record_lengths(fill, first, second);
	field = select_field(second, field);
	refuse_mixed_algorithms(first, second, field);
	announce_listing(second);
	sorting = write_error("Sorting records");
	finish_matching(fill, first, second, field);
	erase_transient(sorting);
	stop_if_asked();

	// Nothing is reported from a file that changed while it was read,
	// and no result from one that changed before the total.
	check_inputs_unchanged(first, second);
	write_text(stdout, "\n");
	int status = 0;
	if (settings.change_report)
		status = status_of_changes(report_changes(first, second, field));
	else
		report_mismatches(first, second, field);
	for (const Listing &l : listings) {
		note_listing(stderr, l);
		if (settings.output_requested)
			note_listing(log_stream, l);
	}
	for (Listing &l : listings) {
		unmap_input(l.buffer, l.buffer_size);
		l.buffer = nullptr;
		free(l.widened);
		l.widened = nullptr;
	}
	finish_outputs();
	end_run(status);
}
