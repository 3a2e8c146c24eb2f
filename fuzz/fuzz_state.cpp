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
	listings[0] = empty_listing(1);
	listings[1] = empty_listing(2);
	output_stream = stdout;
	log_stream = stderr;
}

void
require(bool holds)
{
	if (!holds)
		abort();
}
