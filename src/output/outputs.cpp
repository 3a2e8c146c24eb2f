#include "output/outputs.h"

#include <vector>

#include "output/log_header.h"
#include "output/messages.h"
#include "platform/appending.h"
#include "platform/paths.h"
#include "platform/spawn.h"
#include "run_state.h"

void
refuse_output_file(const std::string &name)
{
	fail("\nCan't open output file %s\n", name.c_str());
}

std::string
log_name_for(const std::string &output_name)
{
	return output_name + ".log";
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

static FILE *
stream_for(int handle, const std::string &path)
{
	FILE *file = stream_whole_lines(handle);
	if (!file)
		refuse_output_file(path);
	return file;
}

void
open_outputs(int argc, char **argv)
{
	// A listing given as an output or log file would have lines appended
	// to it before it is read; it is refused before anything is written.
	std::vector<const char *> others = listing_names(argc, argv);
	// Opened by the name as typed, which the kernel resolves ("link/.."
	// is the link's parent); shown by its full name.
	std::string log_name = log_name_for(settings.output_name);
	std::string log_path = log_name_for(settings.output_path);
	// Both files are checked before either is created, so that a refused
	// log file leaves no empty output file behind.
	int output = open_existing_appending(settings.output_name.c_str(), others);
	int log = open_existing_appending(log_name.c_str(), others);
	if (output == refused_file) {
		close_appending(log);
		refuse_output_file(settings.output_path);
	}
	if (log == refused_file) {
		close_appending(output);
		refuse_output_file(log_path);
	}
	if (output == no_such_file)
		output = open_or_create_appending(settings.output_name.c_str(), others);
	if (output < 0) {
		close_appending(log);
		refuse_output_file(settings.output_path);
	}
	if (log == no_such_file)
		log = open_or_create_appending(log_name.c_str(), others);
	if (log < 0) {
		close_appending(output);
		refuse_output_file(log_path);
	}
	// An earlier output option's files stay open, unwritten, to the end.
	output_stream = stream_for(output, settings.output_path);
	log_stream = stream_for(log, log_path);
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
		// The file written, also where a link and ".." in its name
		// make the full name shown another.
		std::string printed = resolved_path(settings.output_name.c_str(), settings.output_path);
		run_print_command(printed.c_str());
	}
	close_file_stream(output_stream, stdout);
}
