// The usage screens, shown when the command line can't be used.
#pragma once

#include <cstdio>

// Writes the usage pages to stderr, waiting for a key between them, and
// ends the run with status 1.
[[noreturn]] void show_usage();

// Writes the centred "Hit return to continue" prompt.
void prompt_continue(FILE *stream);
