#include "fuzz_state.h"

#include <cstdlib>

#include "platform/process.h"
#include "run_state.h"

void
end_process(int status)
{
	throw RunEnded{status};
}

void
reset_run_state()
{
	settings = RunSettings();
	settings.report_first_missing = 1;
	settings.report_second_missing = 1;
	settings.match_case = 1;
	for (Listing &l : listings)
		l = Listing();
	output_stream = stdout;
	log_stream = stderr;
}

void
require(bool holds)
{
	if (!holds)
		abort();
}
