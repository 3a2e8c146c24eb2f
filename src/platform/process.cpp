#include "platform/process.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

void
end_process(int status)
{
	// exit() flushes and closes every stdio stream still open, so text
	// already written to the output and log files is never lost.
	exit(status);
}

void
end_process_now(int status)
{
	_exit(status);
}
