#include "run_state.h"

RunSettings settings;

Listing
empty_listing(int number)
{
	Listing l;
	l.number = number;
	return l;
}

Listing listings[2] = { empty_listing(1), empty_listing(2) };
FILE *output_stream = stdout;
FILE *log_stream = stderr;
