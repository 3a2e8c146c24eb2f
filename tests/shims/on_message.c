/*
 * Preloaded into a run: the first time the run writes a message to stderr
 * that holds ON_MESSAGE_TEXT, the shell command ON_MESSAGE_COMMAND runs
 * before the message is written, and the run waits for it.  A test can so
 * change a file at a known step of the run, with no waiting of its own.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "shim.h"

static int ran;

static void
run_at_message(const char *format, va_list args)
{
	const char *wanted = getenv("ON_MESSAGE_TEXT");
	const char *command = getenv("ON_MESSAGE_COMMAND");
	char text[4096];
	if (ran || !wanted || !command)
		return;
	vsnprintf(text, sizeof text, format, args);
	if (strstr(text, wanted)) {
		ran = 1;
		run_command(command);
	}
}

int
vfprintf(FILE *stream, const char *format, va_list args)
{
	int (*real_vfprintf)(FILE *, const char *, va_list) =
	    (int (*)(FILE *, const char *, va_list))dlsym(RTLD_NEXT, "vfprintf");
	if (stream == stderr) {
		va_list copy;
		va_copy(copy, args);
		run_at_message(format, copy);
		va_end(copy);
	}
	return real_vfprintf(stream, format, args);
}
