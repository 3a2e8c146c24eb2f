// Ending the process.  Every path that ends the run goes through here, so
// that a build which must not end (the fuzzers) can link its own version.
#pragma once

// Flushes every open stream, the output and log files included, and ends
// the process with the status.
[[noreturn]] void end_process(int status);

// Ends the process with the status at once: no stream is flushed and
// nothing is destroyed, for when other threads may still be running.
[[noreturn]] void end_process_now(int status);
