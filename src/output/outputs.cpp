#include "output/outputs.h"

#include <vector>

#include "output/log_header.h"
#include "output/messages.h"
#include "platform/appending.h"
#include "platform/spawn.h"
#include "run_state.h"

void
refuse_output_file(const std::string &name)
{
	fail("\nCan't open output file %s\n", name.c_str());
}

// The listing names, when the command line has them: the first two
// arguments, both before the options.
static std::vector<const char *>
listing_names(int argc, char **argv)
{
	if (argc < 3 || argv[1][0] == '-' || argv[2][0] == '-')
		return {};
	return { argv[1], argv[2] };
}

// A listing given as an output or log file would have lines appended to it
// before it is read; it is refused before anything is written.
static FILE *
open_for_appending(const std::string &path, int argc, char **argv)
{
	int handle = open_appending(path.c_str(), listing_names(argc, argv));
	FILE *file = handle >= 0 ? stream_whole_lines(handle) : nullptr;
	if (!file)
		refuse_output_file(path);
	return file;
}

void
open_outputs(int argc, char **argv)
{
	// An earlier output option's files stay open, unwritten, to the end.
	output_stream = open_for_appending(settings.output_path, argc, argv);
	settings.log_path = settings.output_path + ".log";
	log_stream = open_for_appending(settings.log_path, argc, argv);
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
