// The usage screens, shown when the command line can't be used.
#pragma once

#include <cstdio>

// Writes the usage pages to stderr, waiting for a key between them, and
// ends the run with status 1.
[[noreturn]] void show_usage();

// --help: the usage pages on stdout without waiting, and where the manual
// is; status 0.
[[noreturn]] void show_help();

// --version: the program's name and version on stdout; status 0.
[[noreturn]] void show_version();

// Writes the centred "Hit return to continue" prompt.
void prompt_continue(FILE *stream);
