#include "platform/spawn.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

void
run_print_command(const char *path)
{
	char program[] = "print";
	char *argv[] = { program, const_cast<char *>(path), nullptr };
	pid_t pid;
	if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0)
		return;
	while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR)
		;
}
