// The option parser.
#pragma once

// Applies the options that follow the file names to the settings, in
// command-line order, opening the output and log files for -o and -O.
// Returns the index of the first argument that begins with "-", or argc.
int parse_options(int argc, char **argv);

// A number read as atoi reads it: blanks, a sign, digits up to the first
// other character; no digits read as 0.  Saturates instead of overflowing.
int read_number(const char *text);

// Ends the run with status 1 when the options given can't go together.
void refuse_conflicting_options();
