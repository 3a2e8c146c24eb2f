#include "front/usage.h"

#include "platform/process.h"

void
show_usage()
{
	end_process(1);
}

void
prompt_continue(FILE *)
{
}
