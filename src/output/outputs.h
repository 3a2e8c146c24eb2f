// The output file and the log file beside it.
#pragma once

#include <string>

// Opens output_name and output_name + ".log" for appending, makes them
// the output and log streams and writes the log header.  Ends the run with
// status 1, having created neither, when either can't be opened, or is a
// FIFO, a socket or one of the listings named on the command line.
void open_outputs(int argc, char **argv);

// Writes the closing separator to the log stream and closes it, hands the
// output file to the print command when asked, and closes the output
// stream.
void finish_outputs();

// The name of the log file beside the output file of that name.
std::string log_name_for(const std::string &output_name);

// Ends the run with status 1: the output or log file of that name can't be
// opened.
[[noreturn]] void refuse_output_file(const std::string &name);
