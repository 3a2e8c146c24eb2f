/*
 * What the preloaded test libraries share: the path an open descriptor
 * names, and running a shell command from inside the run.
 */
#include <errno.h>
#include <stdio.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

/* The path fd was opened by, in path (of size bytes); its length, or -1. */
static ssize_t
path_of_fd(int fd, char *path, size_t size)
{
	char link[64];
	snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
	ssize_t n = readlink(link, path, size - 1);
	if (n >= 0)
		path[n] = '\0';
	return n;
}

/* The command runs without the library, in an environment of its own, and
 * the run waits for it. */
static void
run_command(const char *command)
{
	char *const environment[] = { "PATH=/usr/sbin:/usr/bin:/sbin:/bin", NULL };
	pid_t pid = fork();
	if (pid == 0) {
		execle("/bin/sh", "sh", "-c", command, (char *)NULL, environment);
		_exit(127);
	}
	int status;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
		;
}
