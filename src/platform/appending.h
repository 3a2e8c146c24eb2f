// Output files that several runs may append to at once.
#pragma once

#include <cstdio>
#include <vector>

// What opening a file to append to gave: its handle, or why there is none.
enum { no_such_file = -2, refused_file = -1 };

// Opens an existing file for reading and appending, as fopen's "a+" does.
// no_such_file when nothing of that name exists; refused_file when it
// can't be opened, when it is a FIFO or a socket (the lines would wait for
// a reader, or be lost), or when it is the same file as one of `others`
// (names that don't exist are passed over).
int open_existing_appending(const char *path, const std::vector<const char *> &others);

// As open_existing_appending, creating the file when it is missing.
// Never no_such_file.
int open_or_create_appending(const char *path, const std::vector<const char *> &others);

// Closes a handle of open_existing_appending or open_or_create_appending;
// passes over one that is no handle.
void close_appending(int handle);

// A stream that writes to the handle, and closes it, in whole lines only:
// each write(2) holds whole lines, as many as the stream's buffer had, so
// that runs appending to one file at once interleave whole lines and a
// block written at once stays together.  A line the buffer can't end is
// kept back until its end comes, or the stream closes.  Null, the handle
// closed, when the stream can't be made.
FILE *stream_whole_lines(int handle);
