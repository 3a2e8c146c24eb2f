#include "front/driver.h"
#include "platform/descriptors.h"

int
main(int argc, char **argv)
{
	// Without a descriptor for /dev/null the run can't be kept apart from
	// its own files.
	if (!open_standard_descriptors())
		return 1;
	run_program(argc, argv);
}
