#include "platform/descriptors.h"

#include <cerrno>
#include <fcntl.h>

bool
open_standard_descriptors()
{
	// open() takes the lowest free descriptor: once the lower ones are
	// open, a closed one is the one /dev/null lands on.
	for (int fd = 0; fd <= 2; fd++) {
		if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
			continue;
		if (open("/dev/null", O_RDWR) != fd)
			return false;
	}
	return true;
}
