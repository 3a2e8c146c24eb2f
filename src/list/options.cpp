#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "list/list.h"

static const char usage_text[] =
    "Usage: rowsift-list [OPTION]... DIR...\n"
    "Write a hash listing of the regular files under each DIR, which rowsift\n"
    "compares with another listing.\n"
    "\n"
    "  -a, --algorithm NAME    md5 (the default) or sha256\n"
    "  -o, --output FILE       write the listing to FILE, in place only when complete\n"
    "  -w, --width N           pad paths to N bytes (default 200)\n"
    "      --like OLD          take the algorithm, width and line ends of listing OLD\n"
    "  -p, --prefix TEXT       put TEXT before every path\n"
    "      --lf                end lines with LF alone instead of CR LF\n"
    "  -x, --one-file-system   stay on the file system of each DIR\n"
    "  -e, --exclude PATTERN   leave out files and directories that match PATTERN\n"
    "  -j, --threads N         hash with N threads (default 2)\n"
    "  -q, --quiet             no progress and no summary\n"
    "      --help              show this help and exit\n"
    "      --version           show the version and exit\n"
    "\n"
    "Exit status: 0 when every file was hashed, 1 when some could not be read,\n"
    "2 on a usage or fatal error.\n";

enum { option_like = 256, option_lf, option_help, option_version };

static const struct option long_options[] = {
	{ "algorithm", required_argument, nullptr, 'a' },
	{ "output", required_argument, nullptr, 'o' },
	{ "width", required_argument, nullptr, 'w' },
	{ "like", required_argument, nullptr, option_like },
	{ "prefix", required_argument, nullptr, 'p' },
	{ "lf", no_argument, nullptr, option_lf },
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
		fail_usage("%s must be a number from %d to %d, not '%s'", what, low, high, text);
	return int(value);
}

static Algorithm
read_algorithm(const char *name)
{
	if (strcmp(name, "md5") == 0)
		return Algorithm::md5;
	if (strcmp(name, "sha256") == 0)
		return Algorithm::sha256;
	fail_usage("unknown algorithm '%s' (md5 or sha256)", name);
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

// Takes the algorithm, the width and the line ends from the title line of
// an earlier listing, and checks them against the length of its first
// record, so that the new listing compares with it.
static void
take_layout_of(const char *path)
{
	FILE *in = fopen(path, "rb");
	if (!in)
		fail("%s: %s", path, strerror(errno));
	std::string title, line;
	read_line(in, title);
	bool crlf = strip_cr(title);
	const char *algorithm = nullptr;
	size_t width_at = title.find(", path width ");
	if (title.rfind("rowsift-list ", 0) == 0) {
		if (title.find(" listing, md5, ") != std::string::npos)
			algorithm = "md5";
		else if (title.find(" listing, sha256, ") != std::string::npos)
			algorithm = "sha256";
	}
	if (!algorithm || width_at == std::string::npos) {
		fclose(in);
		fail("%s: not a listing written by rowsift-list", path);
	}
	options.algorithm = read_algorithm(algorithm);
	options.width = atoi(title.c_str() + width_at + strlen(", path width "));
	options.lf_only = !crlf;
	for (int i = 0; i < 3 && read_line(in, line); i++)
		strip_cr(line);
	fclose(in);
	if (options.width < 1 || options.width > max_width ||
	    (line.rfind("----- END", 0) != 0 && line.size() != layout_of(options).record_length))
		fail("%s: its records don't have the layout its title line gives", path);
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
			fail_usage("the output file name is empty");
		options.output_path = optarg;
		break;
	case 'w':
		options.width = read_count(optarg, "the width", 1, max_width);
		options.width_given = true;
		break;
	case option_like:
		options.like_path = optarg;
		break;
	case 'p':
		options.prefix = optarg;
		break;
	case option_lf:
		options.lf_only = true;
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
		fputs(usage_text, stdout);
		exit(0);
	case option_version:
		printf("rowsift-list %s\n", list_version);
		exit(0);
	default:
		fputs("Try 'rowsift-list --help' for more information.\n", stderr);
		exit(2);
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
parse_options(int argc, char **argv)
{
	opterr = 1;
	int letter;
	while ((letter = getopt_long(argc, argv, "a:o:w:p:xe:j:q", long_options, nullptr)) != -1)
		read_option(letter);
	for (int i = optind; i < argc; i++)
		options.roots.push_back(without_trailing_slashes(argv[i]));
	if (options.roots.empty())
		fail_usage("no directory to list");
	if (options.roots.size() > 255)
		fail_usage("at most 255 directories can be listed at once");
	if (!options.like_path.empty()) {
		if (options.width_given || options.algorithm_given)
			fail_usage("--like sets the width and the algorithm; leave out -w and -a");
		take_layout_of(options.like_path.c_str());
	}
}

Layout
layout_of(const ListOptions &o)
{
	Layout layout;
	layout.hash_chars = int(2 * digest_size(o.algorithm));
	layout.width = o.width;
	layout.record_length = 44 + size_t(layout.hash_chars) + size_t(o.width);
	layout.eol = o.lf_only ? "\n" : "\r\n";
	return layout;
}
