#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "list/list.h"
#include "listing/markers.h"
#include "listing/title.h"

static const char usage_start[] =
    "Usage: rowsift-list [OPTION]... DIR...\n"
    "Write a listing of every entry under each DIR, with its hash, mode and\n"
    "owner, which rowsift compares with another listing.\n"
    "\n"
    "  -a, --algorithm NAME    ";
// After the choices, which the table gives, ends with its last: xxh128.
static const char usage_rest[] =
    ", the fastest,\n"
    "                          which detects change but not tampering (sha256 does)\n"
    "  -o, --output FILE       write the listing to FILE, in place only when complete\n"
    "  -w, --width N           pad paths to N bytes (default: the longest path,\n"
    "                          at least 200)\n"
    "      --like OLD          take the layout, algorithm, width and line ends of OLD\n"
    "      --reuse OLD         as --like, and take a file's hash from OLD when its\n"
    "                          path, size and time match and its status last changed\n"
    "                          2 s or more before OLD was taken (this trusts that the\n"
    "                          clock was never set back); read every other file\n"
    "  -p, --prefix TEXT       put TEXT before every path\n"
    "      --lf                end lines with LF alone instead of CR LF\n"
    "      --content-only      list regular files alone, without mode and owner\n"
    "  -x, --one-file-system   stay on the file system of each DIR\n"
    "  -e, --exclude PATTERN   leave out files and directories that match PATTERN\n"
    "  -j, --threads N         hash with N threads (default 2)\n"
    "  -q, --quiet             no progress and no summary\n"
    "      --help              show this help and exit\n"
    "      --version           show the version and exit\n"
    "\n"
    "Exit status: 0 when every file was hashed, 1 when some could not be read,\n"
    "2 on a usage or fatal error.\n";

enum { option_like = 256, option_reuse, option_lf, option_content_only, option_help, option_version };

static const struct option long_options[] = {
	{ "algorithm", required_argument, nullptr, 'a' },
	{ "output", required_argument, nullptr, 'o' },
	{ "width", required_argument, nullptr, 'w' },
	{ "like", required_argument, nullptr, option_like },
	{ "reuse", required_argument, nullptr, option_reuse },
	{ "prefix", required_argument, nullptr, 'p' },
	{ "lf", no_argument, nullptr, option_lf },
	{ "content-only", no_argument, nullptr, option_content_only },
	{ "one-file-system", no_argument, nullptr, 'x' },
	{ "exclude", required_argument, nullptr, 'e' },
	{ "threads", required_argument, nullptr, 'j' },
	{ "quiet", no_argument, nullptr, 'q' },
	{ "help", no_argument, nullptr, option_help },
	{ "version", no_argument, nullptr, option_version },
	{ nullptr, 0, nullptr, 0 },
};

static int
read_count(const char *text, const char *what, int low, int high)
{
	char *end;
	errno = 0;
	long value = strtol(text, &end, 10);
	if (errno || end == text || *end || value < low || value > high)
		list_fail_usage("%s must be a number from %d to %d, not '%s'", what, low, high, text);
	return int(value);
}

static const HashAlgorithm *
read_algorithm(const char *name)
{
	if (const HashAlgorithm *known = find_algorithm(name))
		return known;
	list_fail_usage("unknown algorithm '%s' (%s)", name, algorithm_choices(false).c_str());
}

// Reads up to a line end, keeping no more than the longest record.
static bool
read_line(FILE *in, std::string &line)
{
	const size_t longest = size_t(max_width) + 256;
	line.clear();
	int c;
	while ((c = getc(in)) != EOF && c != '\n')
		if (line.size() <= longest)
			line += char(c);
	return c != EOF || !line.empty();
}

static bool
strip_cr(std::string &line)
{
	bool had = !line.empty() && line.back() == '\r';
	if (had)
		line.pop_back();
	return had;
}

static const char *
layout_name(bool content_only)
{
	return content_only ? "the content-only layout" : "the layout with modes and owners";
}

// --content-only can't be had with an earlier listing of the other layout.
static void
check_content_only(const char *path, bool content_only, const char *option)
{
	if (options.content_only_given && !content_only)
		list_fail_usage("%s has %s; --content-only with %s asks for %s", path,
		    layout_name(content_only), option, layout_name(true));
	options.content_only = content_only;
}

// Takes the algorithm, the width and the line ends from the title line of
// an earlier listing, its layout from its column-title line, and checks
// them against the length of its first record, so that the new listing
// compares with it.
static void
take_layout_of(const char *path)
{
	FILE *in = fopen(path, "rb");
	if (!in)
		list_fail("%s: %s", path, strerror(errno));
	std::string first, line;
	read_line(in, first);
	bool crlf = strip_cr(first);
	Title title = read_title(first.data(), first.size());
	const HashAlgorithm *algorithm = title.found ? find_algorithm(title.algorithm) : nullptr;
	if (!algorithm || !title.width_given) {
		fclose(in);
		list_fail("%s: not a listing written by rowsift-list", path);
	}
	options.algorithm = algorithm;
	options.width = title.width;
	options.lf_only = !crlf;
	std::string column_title_line;
	for (int i = 0; i < 3 && read_line(in, line); i++) {
		strip_cr(line);
		if (i == 1)
			column_title_line = line;
	}
	fclose(in);
	check_content_only(path, !names_mode_column(column_title_line), "--like");
	if (options.width < 1 || options.width > max_width ||
	    (line.rfind(trailer_marker, 0) != 0 && line.size() != layout_of(options).record_length))
		list_fail("%s: its records don't have the layout its title line gives", path);
}

static const char *
line_ends(bool lf_only)
{
	return lf_only ? "LF" : "CR LF";
}

// What asks for a layout other than the earlier listing's: --like when
// given, else the option itself.
static const char *
asked_by(const char *option)
{
	return options.like_path.empty() ? option : "--like";
}

// The hashes of an earlier listing are only of use in a listing of its
// own layout: what -a, -w, --lf or --like ask must agree with it.
static void
take_layout_of_earlier(const std::string &path)
{
	EarlierLayout earlier = read_earlier_listing(path);
	bool like = !options.like_path.empty();
	const char *name = path.c_str();
	if ((options.algorithm_given || like) && options.algorithm != earlier.algorithm)
		list_fail_usage("%s holds %s hashes; %s asks for %s", name, earlier.algorithm->name,
		    asked_by("-a"), options.algorithm->name);
	if ((options.width_given || like) && options.width != earlier.width)
		list_fail_usage("%s has a path width of %d; %s asks for %d", name, earlier.width,
		    asked_by("-w"), options.width);
	if ((options.lf_only || like) && options.lf_only != earlier.lf_only)
		list_fail_usage("%s has %s lines; %s asks for %s", name, line_ends(earlier.lf_only),
		    asked_by("--lf"), line_ends(options.lf_only));
	if (like && options.content_only != earlier.content_only)
		list_fail_usage("%s has %s; --like asks for %s", name, layout_name(earlier.content_only),
		    layout_name(options.content_only));
	check_content_only(name, earlier.content_only, "--reuse");
	options.algorithm = earlier.algorithm;
	options.width = earlier.width;
	options.lf_only = earlier.lf_only;
	index_earlier_listing();
}

static void
read_option(int letter)
{
	switch (letter) {
	case 'a':
		options.algorithm = read_algorithm(optarg);
		options.algorithm_given = true;
		break;
	case 'o':
		if (!*optarg)
			list_fail_usage("the output file name is empty");
		options.output_path = optarg;
		break;
	case 'w':
		options.width = read_count(optarg, "the width", 1, max_width);
		options.width_given = true;
		break;
	case option_like:
		options.like_path = optarg;
		break;
	case option_reuse:
		options.reuse_path = optarg;
		break;
	case 'p':
		options.prefix = optarg;
		break;
	case option_lf:
		options.lf_only = true;
		break;
	case option_content_only:
		options.content_only = true;
		options.content_only_given = true;
		break;
	case 'x':
		options.one_file_system = true;
		break;
	case 'e':
		options.excludes.push_back(optarg);
		break;
	case 'j':
		options.threads = read_count(optarg, "the number of threads", 1, 64);
		break;
	case 'q':
		options.quiet = true;
		break;
	case option_help:
		fputs(usage_start, stdout);
		fputs(algorithm_choices(true).c_str(), stdout);
		fputs(usage_rest, stdout);
		list_end_run(0);
	case option_version:
		printf("rowsift-list %s\n", list_version);
		list_end_run(0);
	default:
		// getopt has said what is wrong.
		list_end_usage();
	}
}

// Trailing slashes would double the one put between a root and its paths.
static std::string
without_trailing_slashes(std::string root)
{
	while (root.size() > 1 && root.back() == '/')
		root.pop_back();
	return root;
}

void
parse_list_options(int argc, char **argv)
{
	opterr = 1;
	int letter;
	while ((letter = getopt_long(argc, argv, "a:o:w:p:xe:j:q", long_options, nullptr)) != -1)
		read_option(letter);
	for (int i = optind; i < argc; i++)
		options.roots.push_back(without_trailing_slashes(argv[i]));
	if (options.roots.empty())
		list_fail_usage("no directory to list");
	if (options.roots.size() > 255)
		list_fail_usage("at most 255 directories can be listed at once");
	if (!options.like_path.empty()) {
		if (options.width_given || options.algorithm_given)
			list_fail_usage("--like sets the width and the algorithm; leave out -w and -a");
		take_layout_of(options.like_path.c_str());
	}
	if (!options.reuse_path.empty())
		take_layout_of_earlier(options.reuse_path);
}

Layout
layout_of(const ListOptions &o)
{
	return layout_for(o.algorithm->hex_length, o.width, o.lf_only, o.content_only);
}
