#include "front/driver.h"

int
main(int argc, char **argv)
{
	run_program(argc, argv);
}
