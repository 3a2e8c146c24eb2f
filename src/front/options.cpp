#include "front/options.h"

#include <climits>

#include "front/usage.h"
#include "output/outputs.h"
#include "output/messages.h"
#include "platform/paths.h"
#include "run_state.h"

int
read_number(const char *text)
{
	while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
		text++;
	bool negative = *text == '-';
	if (*text == '-' || *text == '+')
		text++;
	long long value = 0;
	for (; *text >= '0' && *text <= '9'; text++) {
		value = value * 10 + (*text - '0');
		if (value > INT_MAX)
			return negative ? INT_MIN : INT_MAX;
	}
	return int(negative ? -value : value);
}

static bool
starts_option(const char *arg)
{
	return arg[0] == '-';
}

// The value of a letter: the rest of its own argument, or else the whole
// next argument, which is then consumed.  Null when there is none.
static const char *
take_value(const char *rest, int argc, char **argv, int &i)
{
	if (*rest)
		return rest;
	if (i + 1 < argc)
		return argv[++i];
	return nullptr;
}

static int
number_option(char letter, const char *value)
{
	int number = read_number(value);
	if (number < 0)
		fail("\nOption -%c needs a number of 0 or more, not %s\n", letter, value);
	return number;
}

static void
output_option(char letter, const char *rest, int argc, char **argv, int &i)
{
	// An earlier pair of files receives nothing more; what it holds is
	// checked now, while its names are known.
	if (settings.output_requested) {
		flush_checked(log_stream);
		flush_checked(output_stream);
	}
	if (letter == 'O')
		settings.to_printer = 1;
	settings.output_requested = 1;
	settings.output_path.clear();
	const char *name = rest;
	if (!*name) {
		if (i + 1 >= argc || starts_option(argv[i + 1]))
			fail("\nOption -%c needs the name of an output file after it\n", letter);
		name = argv[++i];
	}
	settings.output_name = name;
	settings.output_path = full_path(name);
	// A relative name in a directory that can't be named has no certain
	// place to go.
	if (settings.output_path.empty())
		refuse_output_file(name);
	open_outputs(argc, argv);
}

// Applies the letters of argv[i]; may consume the next argument.
static void
apply_letters(int argc, char **argv, int &i)
{
	const char *arg = argv[i];
	for (int j = 1; arg[j]; j++) {
		const char *rest = arg + j + 1;
		const char *value;
		switch (arg[j]) {
		case '1':
			settings.report_second_missing = 0;
			break;
		case '2':
			settings.report_first_missing = 0;
			break;
		case 'h': case 'H':
			settings.hash_field = 1;
			break;
		case 'i': case 'I':
			settings.match_case = 0;
			break;
		case 'x': case 'X':
			settings.no_headers = 1;
			break;
		case 'c': case 'C':
			settings.change_report = 1;
			break;
		case 'd': case 'D':
			if (!(value = take_value(rest, argc, argv, i)))
				show_usage();
			settings.field_start = number_option(arg[j], value);
			settings.field_given = 1;
			return;
		case 'l': case 'L': case 'w': case 'W':
			if (!(value = take_value(rest, argc, argv, i)))
				show_usage();
			settings.field_length = number_option(arg[j], value);
			settings.field_given = 1;
			return;
		case 'o': case 'O':
			output_option(arg[j], rest, argc, argv, i);
			return;
		default:
			show_usage();
		}
	}
}

int
parse_options(int argc, char **argv)
{
	int first = 1;
	while (first < argc && !starts_option(argv[first]))
		first++;
	for (int i = first; i < argc && starts_option(argv[i]); i++)
		apply_letters(argc, argv, i);
	return first;
}

void
refuse_conflicting_options()
{
	// The change report pairs whole records by their hash and path columns.
	if (settings.change_report && (settings.field_given || settings.hash_field))
		fail("\nOption -c takes the hash and the path from each record: it can't be"
		    " combined with -d, -l or -h\n");
}
