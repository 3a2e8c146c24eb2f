#include "output/outputs.h"

#include "output/log_header.h"
#include "output/messages.h"
#include "platform/spawn.h"
#include "run_state.h"

static FILE *
open_for_appending(const std::string &path)
{
	FILE *file = fopen(path.c_str(), "a+");
	if (!file)
		fail("\nCan't open output file %s\n", path.c_str());
	return file;
}

void
open_outputs(int argc, char **argv)
{
	// An earlier output option's files stay open, unwritten, to the end.
	output_stream = open_for_appending(settings.output_path);
	settings.log_path = settings.output_path + ".log";
	log_stream = open_for_appending(settings.log_path);
	// The header is in the file from now on, whatever ends the run.
	write_log_header(argc, argv);
	flush_checked(log_stream);
}

void
finish_outputs()
{
	write_text(log_stream, "\n**********************************\n\n");
	close_file_stream(log_stream, stderr);
	if (settings.to_printer) {
		// The printer must get every line already written.
		fflush(output_stream);
		run_print_command(settings.output_path.c_str());
	}
	close_file_stream(output_stream, stdout);
}
