#include "run_state.h"

RunSettings settings;
Listing listings[2];
FILE *output_stream = stdout;
FILE *log_stream = stderr;
