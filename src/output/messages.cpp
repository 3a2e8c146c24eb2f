#include "output/messages.h"

#include <cstdarg>
#include <stdio_ext.h>
#include <string>

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

// The name of the file behind a stream, or null for the console streams.
static const char *
file_name_of(FILE *stream)
{
	if (!settings.output_requested)
		return nullptr;
	if (stream == output_stream && stream != stdout)
		return settings.output_path.c_str();
	if (stream == log_stream && stream != stderr)
		return settings.log_path.c_str();
	return nullptr;
}

[[noreturn]] static void
report_write_failure(const char *name)
{
	write_error("\nCan't write output file %s\n", name);
	end_process(1);
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
		if (const char *name = file_name_of(stream))
			report_write_failure(name);
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

void
flush_checked(FILE *stream)
{
	const char *name = file_name_of(stream);
	if ((fflush(stream) != 0 || ferror(stream)) && name)
		report_write_failure(name);
}

void
close_checked(FILE *stream)
{
	const char *name = file_name_of(stream);
	flush_checked(stream);
	if (fclose(stream) != 0 && name)
		report_write_failure(name);
}

void
close_file_stream(FILE *&stream, FILE *console)
{
	if (stream == console)
		return;
	close_checked(stream);
	stream = console;
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
