#include "output/messages.h"

#include <cstdarg>
#include <stdio_ext.h>
#include <string>

#include "output/outputs.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "run_state.h"

static char stdout_buffer[1 << 16];

void
set_up_streams()
{
	setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
	setvbuf(stderr, nullptr, _IONBF, 0);
}

// The name of the file behind a stream, or empty for the console streams.
static std::string
file_name_of(FILE *stream)
{
	if (!settings.output_requested)
		return "";
	if (stream == output_stream && stream != stdout)
		return settings.output_path;
	if (stream == log_stream && stream != stderr)
		return log_name_for(settings.output_path);
	return "";
}

// Set once a write to the output or log file failed: the run is ending,
// the failure is reported once, and what could not be written is not
// tried again.
static bool file_failed;

// Whether a failure of the file of that name is still to be reported.
static bool
is_new_failure(const std::string &name)
{
	return !name.empty() && !file_failed;
}

// The run ends through fail; the stream, when it is still open, drops
// what it could not write first.
[[noreturn]] static void
report_write_failure(FILE *stream, const std::string &name)
{
	file_failed = true;
	if (stream)
		__fpurge(stream);
	fail("\nCan't write output file %s\n", name.c_str());
}

// Set once stdout failed: the failure is reported once, and what could
// not be written is not tried again.
static bool console_failed;

[[noreturn]] static void
report_console_failure()
{
	console_failed = true;
	__fpurge(stdout);
	write_error("\nCan't write the standard output\n");
	end_run(1);
}

static void
flush_console()
{
	if (!console_failed && fflush(stdout) != 0)
		report_console_failure();
}

static int
write_args(FILE *stream, const char *format, va_list args)
{
	if (stream == stderr)
		flush_console();
	int written = vfprintf(stream, format, args);
	if (written < 0) {
		std::string name = file_name_of(stream);
		if (is_new_failure(name))
			report_write_failure(stream, name);
		if (stream == stdout && !console_failed)
			report_console_failure();
		return 0;
	}
	return written;
}

int
write_text(FILE *stream, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	int written = write_args(stream, format, args);
	va_end(args);
	return written;
}

int
write_error(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	int written = write_args(stderr, format, args);
	va_end(args);
	return written;
}

void
erase_transient(int n)
{
	if (n <= 0)
		return;
	std::string text(size_t(n), '\b');
	text.append(size_t(n), ' ');
	text.append(size_t(n), '\b');
	write_error("%s", text.c_str());
}

static void
flush_named(FILE *stream, const std::string &name)
{
	if ((fflush(stream) != 0 || ferror(stream)) && is_new_failure(name))
		report_write_failure(stream, name);
}

void
flush_checked(FILE *stream)
{
	flush_named(stream, file_name_of(stream));
}

void
close_file_stream(FILE *&stream, FILE *console)
{
	if (stream == console)
		return;
	FILE *file = stream;
	std::string name = file_name_of(file);
	// The run a failure ends closes its files: this one is no longer
	// among them.
	stream = console;
	flush_named(file, name);
	if (fclose(file) != 0 && is_new_failure(name))
		report_write_failure(nullptr, name);
}

void
end_run(int status)
{
	close_file_stream(log_stream, stderr);
	close_file_stream(output_stream, stdout);
	flush_console();
	if (int signal = stop_signal())
		end_by_signal(signal);
	end_process(status);
}

void
stop_if_asked()
{
	if (stop_signal())
		end_run(1);
}

void
fail(const char *format, ...)
{
	va_list args;
	va_start(args, format);
	write_args(stderr, format, args);
	va_end(args);
	end_run(1);
}

void
fail_on(FILE *stream, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	write_args(stream, format, args);
	va_end(args);
	end_run(1);
}
