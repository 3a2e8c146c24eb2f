/* Hooks for the rowsift-list tests, loaded with LD_PRELOAD.  At the reads
 * of one file that the run makes itself, a command changes the tree, or
 * the read fails: the change lands at a known point, with no waiting.
 *
 * LIST_HOOK_FILE        the file, as the end of its full path
 * LIST_HOOK_COMMAND     a shell command, run before each of the first
 *                       LIST_HOOK_TIMES (default 1) reads from the file's start
 * LIST_HOOK_ERROR       an errno value every read of the file fails with,
 *                       or the read of its text when it is a symbolic link
 * LIST_HOOK_NO_OPENAT2  when set, openat2 fails as where the kernel lacks it
 * LIST_HOOK_CTIMES      "END=SECONDS ...": the status-change time fstatat
 *                       gives each file whose full path ends in /END, as
 *                       no test could make one in the past
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "shim.h"

static int runs;

static int
ends_in(const char *path, size_t n, const char *wanted, size_t length)
{
	return n > length && strncmp(path + n - length, wanted, length) == 0 &&
	    path[n - length - 1] == '/';
}

static int
is_hooked(int fd)
{
	const char *wanted = getenv("LIST_HOOK_FILE");
	char path[4096];
	if (!wanted)
		return 0;
	ssize_t n = path_of_fd(fd, path, sizeof path);
	if (n < 0)
		return 0;
	return ends_in(path, (size_t)n, wanted, strlen(wanted));
}

/* The time LIST_HOOK_CTIMES gives the file name in the directory open on
 * dir_fd, or -1. */
static long
hooked_ctime(int dir_fd, const char *name)
{
	const char *times = getenv("LIST_HOOK_CTIMES");
	char path[4096];
	if (!times)
		return -1;
	ssize_t n = path_of_fd(dir_fd, path, sizeof path);
	if (n < 0)
		return -1;
	n += snprintf(path + n, sizeof path - (size_t)n, "/%s", name);
	while (*times) {
		const char *equals = strchr(times, '=');
		if (!equals)
			return -1;
		char *end;
		long seconds = strtol(equals + 1, &end, 10);
		if (ends_in(path, (size_t)n, times, (size_t)(equals - times)))
			return seconds;
		times = end + strspn(end, " ");
	}
	return -1;
}

int
fstatat(int dir_fd, const char *name, struct stat *st, int flags)
{
	static int (*real_fstatat)(int, const char *, struct stat *, int);
	if (!real_fstatat)
		real_fstatat = (int (*)(int, const char *, struct stat *, int))dlsym(RTLD_NEXT, "fstatat");
	int result = real_fstatat(dir_fd, name, st, flags);
	long ctime = result == 0 ? hooked_ctime(dir_fd, name) : -1;
	if (ctime >= 0) {
		st->st_ctim.tv_sec = ctime;
		st->st_ctim.tv_nsec = 0;
	}
	return result;
}

ssize_t
read(int fd, void *buffer, size_t n)
{
	static ssize_t (*real_read)(int, void *, size_t);
	if (!real_read)
		real_read = (ssize_t (*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
	if (is_hooked(fd)) {
		const char *error = getenv("LIST_HOOK_ERROR");
		const char *command = getenv("LIST_HOOK_COMMAND");
		const char *times = getenv("LIST_HOOK_TIMES");
		if (error) {
			errno = atoi(error);
			return -1;
		}
		if (command && lseek(fd, 0, SEEK_CUR) == 0 &&
		    __sync_fetch_and_add(&runs, 1) < (times ? atoi(times) : 1))
			run_command(command);
	}
	return real_read(fd, buffer, n);
}

ssize_t
readlinkat(int dir_fd, const char *name, char *buffer, size_t size)
{
	static ssize_t (*real_readlinkat)(int, const char *, char *, size_t);
	if (!real_readlinkat)
		real_readlinkat = (ssize_t (*)(int, const char *, char *, size_t))dlsym(RTLD_NEXT, "readlinkat");
	const char *wanted = getenv("LIST_HOOK_FILE");
	const char *error = getenv("LIST_HOOK_ERROR");
	char path[4096];
	ssize_t n = wanted && error ? path_of_fd(dir_fd, path, sizeof path) : -1;
	if (n >= 0) {
		n += snprintf(path + n, sizeof path - (size_t)n, "/%s", name);
		if (ends_in(path, (size_t)n, wanted, strlen(wanted))) {
			errno = atoi(error);
			return -1;
		}
	}
	return real_readlinkat(dir_fd, name, buffer, size);
}

long
syscall(long number, ...)
{
	static long (*real_syscall)(long, ...);
	long a[6];
	va_list args;
	va_start(args, number);
	for (int i = 0; i < 6; i++)
		a[i] = va_arg(args, long);
	va_end(args);
	if (number == SYS_openat2 && getenv("LIST_HOOK_NO_OPENAT2")) {
		errno = ENOSYS;
		return -1;
	}
	if (!real_syscall)
		real_syscall = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
	return real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
