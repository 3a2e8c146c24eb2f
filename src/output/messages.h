// The message family.  Every byte the program writes goes through these,
// so that stdout, which is buffered for speed, is always flushed before
// anything reaches stderr: the two streams interleave as if both were
// unbuffered.  Every run that ends early ends through fail or end_run.
#pragma once

#include <cstdio>

// Writes to a stream; returns the number of characters written.  A failed
// write to the output file or the log file ends the run with status 1.
int write_text(FILE *stream, const char *format, ...)
	__attribute__((format(printf, 2, 3)));

// Writes to stderr; returns the number of characters written.
int write_error(const char *format, ...)
	__attribute__((format(printf, 1, 2)));

// Removes the last n characters of a progress message from the console:
// n backspaces, n blanks, n backspaces.
void erase_transient(int n);

// Makes stdout fully buffered and stderr unbuffered.
void set_up_streams();

// Gets what was written to a stream out to its file; a failure to do so
// is reported, naming the file, and ends the run with status 1.
void flush_checked(FILE *stream);

// Closes the stream when it is a file of ours and not the console stream
// it stands in for, and puts the console in its place.  A failure to get
// its bytes out is reported, naming the file, and ends the run with
// status 1.
void close_file_stream(FILE *&stream, FILE *console);

// Ends the run with the status: the output and log files are closed first
// and checked, and so is stdout, so that a run that failed to write them
// says so.  A run that a signal asked to stop ends by that signal.
[[noreturn]] void end_run(int status);

// Ends the run, as end_run, when a signal asked it to stop.
void stop_if_asked();

// Writes the message to stderr and ends the run with status 1.
[[noreturn]] void fail(const char *format, ...)
	__attribute__((format(printf, 1, 2)));

// As fail, writing the message to the stream: a few messages have always
// gone to stdout.
[[noreturn]] void fail_on(FILE *stream, const char *format, ...)
	__attribute__((format(printf, 2, 3)));
