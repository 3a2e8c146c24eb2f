// The print command.
#pragma once

// Runs the program "print", looked up on PATH, with the path as its only
// argument, and waits for it.  No shell sees the path; a missing program
// and its result are ignored.
void run_print_command(const char *path);
