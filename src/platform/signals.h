// Signals that ask the run to stop.  The run stops at its next record and
// closes its files before the signal takes its course, so that nothing it
// wrote is lost.
#pragma once

#include <vector>

// From now on SIGINT, SIGTERM and SIGHUP only ask the run to stop.  A
// write to a closed pipe or past the file size limit fails with an error
// instead of ending the process.
void watch_stop_signals();

// The signal that asked the run to stop, or 0.
int stop_signal();

// Ends the process by the signal, as it would have ended without being
// watched: the shell sees 128 + the signal's number.
[[noreturn]] void end_by_signal(int signal);

// A write past the file size limit fails with an error instead of ending
// the process.
void ignore_file_size_limit();

// Every signal whose default action ends the process, the real-time ones
// included.
std::vector<int> signals_ending_by_default();
