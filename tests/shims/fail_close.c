/*
 * Preloaded into a run: the close of the file named by FAIL_CLOSE_NAME (its
 * last path component) closes it and then reports EIO, as a file system
 * can when its last write-back fails.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "shim.h"

static int
named_failing(int fd)
{
	const char *failing = getenv("FAIL_CLOSE_NAME");
	char path[4096];
	if (!failing || path_of_fd(fd, path, sizeof path) < 0)
		return 0;
	const char *name = strrchr(path, '/');
	return strcmp(name ? name + 1 : path, failing) == 0;
}

int
close(int fd)
{
	int (*real_close)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
	int failing = named_failing(fd);
	int result = real_close(fd);
	if (!failing || result != 0)
		return result;
	errno = EIO;
	return -1;
}
