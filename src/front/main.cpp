#include "front/driver.h"
#include "platform/descriptors.h"

int
main(int argc, char **argv)
{
	// A closed stdout or stderr would be taken by the output file; with no
	// /dev/null to put in its place, the run doesn't start.
	if (!open_standard_descriptors())
		return 1;
	run_program(argc, argv);
}
