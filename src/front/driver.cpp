#include "front/driver.h"

#include "compare/match.h"
#include "compare/passes.h"
#include "front/options.h"
#include "front/usage.h"
#include "loader/extract.h"
#include "loader/prepare.h"
#include "output/outputs.h"
#include "output/streams.h"
#include "platform/files.h"
#include "platform/process.h"
#include "run_state.h"

static void
load_and_sort(int number)
{
	Listing &l = listings[number - 1];
	load_listing(l);
	write_text(stdout, number == 1 ? "\nInput file #%d:   %s  %ld records\n" :
	    "Input file #%d:   %s  %ld records\n", number, l.name, long(l.count));
	if (settings.output_requested)
		write_text(log_stream, number == 1 ? "Input file #%d:   %s  %ld records\n" :
		    "Input file #%d:   %s  %ld records\n\n", number, l.name, long(l.count));
	int message = write_error("Sorting records");
	// Listing 1 goes into the table on a second thread while listing 2
	// loads.
	if (number == 1)
		start_matching(l);
	else
		finish_matching(listings[0], l);
	erase_transient(message);
}

void
run_program(int argc, char **argv)
{
	set_up_streams();
	output_stream = stdout;
	log_stream = stderr;
	settings.report_first_missing = 1;
	settings.report_second_missing = 1;
	settings.match_case = 1;
	settings.to_printer = 0;

	if (parse_options(argc, argv) < 3)
		show_usage();
	prepare_inputs(argv);
	load_and_sort(1);
	load_and_sort(2);
	write_text(stdout, "\n");
	if (settings.report_first_missing)
		report_missing(1);
	if (settings.report_second_missing)
		report_missing(2);
	// A file that lost pages after it was loaded was compared as zeros
	// there.
	for (const Listing &l : listings)
		if (input_lost(l.buffer))
			fail_read(l);
	write_text(stdout, "\n\nFound %d mismatches\n", settings.mismatch_total);
	for (Listing &l : listings) {
		unmap_input(l.buffer, l.buffer_size);
		l.buffer = nullptr;
	}
	finish_outputs();
	end_process(0);
}
