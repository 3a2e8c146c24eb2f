// What every fuzz target shares: the way a run ends and a fresh start for
// the process-wide state before each input.
#pragma once

// Thrown by the fuzz targets' end_process, caught by the target.
struct RunEnded {
	int status;
};

// Settings as the driver sets them before reading options, listings
// emptied, streams back on the console.
void reset_run_state();

// Stops the fuzzer with a crash report when a property of the program is
// broken, so that libFuzzer keeps the input.
void require(bool holds);
