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

static int
named_failing(int fd)
{
	const char *failing = getenv("FAIL_CLOSE_NAME");
	char link[64], path[4096];
	if (!failing)
		return 0;
	snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
	ssize_t n = readlink(link, path, sizeof path - 1);
	if (n < 0)
		return 0;
	path[n] = '\0';
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
