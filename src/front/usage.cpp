#include "front/usage.h"

#include "output/messages.h"
#include "platform/terminal.h"

// The limit the first page states, a little below the loader's own.
static const long stated_record_limit = 7990000;

static const int prompt_line_width = 80;

// stderr for the usage screens, stdout for --help.
static FILE *page_stream = stderr;

static void
write_page_memory()
{
	write_text(page_stream, "\n\n");
	write_text(page_stream, "CAVEAT: IT IS BEST TO RUN ROWSIFT ON A PIPE \"|\" DELIMETED FILE\n\n");
	write_text(page_stream, "Rowsift compares two sumlist.exe outputs and lists those records that are\n");
	write_text(page_stream, "found in one file and not the other. Default compares the ENTIRE hash record.\n");
	write_text(page_stream, "Meaning the hash, path, filename, and any other data in the row are used.\n\n");
	write_text(page_stream, "In order for the program to work correctly, the computer must have enough\n");
	write_text(page_stream, "free memory (RAM) to store both files in memory while processing.\n");
	write_text(page_stream, "Currently, there is a max of %ld files(records) per input file.\n", stated_record_limit);
	write_text(page_stream, "For NT and 9X this is usually not a problem. As swap space is available\n\n");
}

static void
write_page_headers()
{
	write_text(page_stream, "\nAssuming each input file has \"records\" or \"lines\" for each file processed\n\n");
	write_text(page_stream, "The input file should have a header line  \"----- BEGIN\" just before\n");
	write_text(page_stream, "the start of the data, and a trailer line \"----- END\" after the last data line\n");
	write_text(page_stream, "This is an indication to the program where to start and stop the processing\n");
	write_text(page_stream, "The 5 dashes \"-----\" of the header and trailer MUST begin the line\n");
	write_text(page_stream, "If the files are pure data, without headers, then the -X option should be used\n\n");
	write_text(page_stream, "As a side benefit: If two files have the same record format\n");
	write_text(page_stream, "rowsift can be used to compare any 2 files on the hash field.\n");
	write_text(page_stream, "If the hash is the first field, it is even easier\n\n");
}

static void
write_page_command_line()
{
	write_text(page_stream, "\n\n\nCommand line is:   rowsift  infile1 infile2 -options[12hix [-d # -l #]]\n");
	write_text(page_stream, "-1:   Only show occurance from file 1 and not file 2\n");
	write_text(page_stream, "-2:   Only show occurance from file 2 and not file 1\n");
	write_text(page_stream, "      default is show differences from both files.\n");
	write_text(page_stream, "-i:   ignore case of records.\n");
	write_text(page_stream, "-x:   input files DO NOT have the ----- BEGIN and ----- END triggers.\n");
	write_text(page_stream, "      files are clean data files without HEADERS or TRAILERS.\n");
	write_text(page_stream, "-[oO]+outputfile: Filename of an output file (log) to place mismatch info. to.\n");
	write_text(page_stream, "      -O (uppercase) also sends output file to the default printer.\n");
	write_text(page_stream, "      formatted 75 characters per line.\n\n");
}

static void
write_page_compare_field()
{
	write_text(page_stream, "\n\n");
	write_text(page_stream, "-d+#: #==start compare at this character from start of record.\n");
	write_text(page_stream, "      use this when the drive letter is only suspected differance. \"-d 2\"\n");
	write_text(page_stream, "-l+#: restrict compare field length to this many characters. \n");
	write_text(page_stream, "      default is to compare entire record, which includes date/time/size etc.\n");
	write_text(page_stream, "      compare field either starts at 1, or value input using -d option.\n");
	write_text(page_stream, "-h:   the program calcuates the beginning and end of the hash field\n");
	write_text(page_stream, "      and compares only hash values, regardless of filenames, dates etc.\n");
	write_text(page_stream, "      this is useful if filenames have changed.\n");
	write_text(page_stream, "NOTE: this -h option will not work if delimeters other than | are used\n");
	write_text(page_stream, "Processing starts at lines containing \"----- BEGIN \" and ends at \"----- END \" \n\n");
}

static void
write_page_record_format()
{
	write_text(page_stream, "\n\n");
	write_text(page_stream, "BEST record format: If not using headers ----- BEGIN \n\n");
	write_text(page_stream, "MD5hash values as first field    | Path\\filename-fixed length record\n\n");
	write_text(page_stream, "1234567890ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n");
	write_text(page_stream, "0123456789ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n");
	write_text(page_stream, "2345678901ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n");
}

// Ctrl-C and Esc leave the usage screens at once.
static void
wait_for_next_page()
{
	int key = read_key();
	if (key == 3 || key == 27)
		end_run(1);
}

void
show_usage()
{
	write_page_memory();
	prompt_continue(stderr);
	wait_for_next_page();
	write_page_headers();
	prompt_continue(stderr);
	wait_for_next_page();
	write_page_command_line();
	prompt_continue(stderr);
	wait_for_next_page();
	// The fourth page has always waited without a prompt.
	write_page_compare_field();
	wait_for_next_page();
	write_page_record_format();
	end_run(1);
}

// What the historic pages never told: the options added since, the notes
// a run may end with, and the program that writes the listings.
static void
write_help_additions()
{
	write_text(stdout, "\n\nNot on the pages above:\n");
	write_text(stdout, "-c:   report what changed, file by file, instead of the records missing:\n");
	write_text(stdout, "      changed, moved, added, removed or touched, sorted by path, then a\n");
	write_text(stdout, "      total. The hash and the path are found in each record, so -d, -l\n");
	write_text(stdout, "      and -h don't go with it. Exit status 3 when it lists any change,\n");
	write_text(stdout, "      0 when it lists none.\n");
	write_text(stdout, "-C:   the same as -c: every letter but o and O means the same in capitals.\n");
	write_text(stdout, "-w+#: the same as -l.\n\n");
	write_text(stdout, "Notes after the total, on stderr and in the log, tell of lines of another\n");
	write_text(stdout, "length passed over, of lines of the record length after the end of the\n");
	write_text(stdout, "data, of a listing without a \"----- END\" line, which may be cut short,\n");
	write_text(stdout, "and, with -c, of a path that one listing holds more than once.\n\n");
	write_text(stdout, "rowsift-list walks directory trees and writes the listings rowsift reads:\n");
	write_text(stdout, "      rowsift-list /srv/data > monday.txt\n");
	write_text(stdout, "      rowsift-list --like monday.txt /srv/data > friday.txt\n");
	write_text(stdout, "      rowsift monday.txt friday.txt -c\n");
}

void
show_help()
{
	page_stream = stdout;
	write_page_memory();
	write_page_headers();
	write_page_command_line();
	write_page_compare_field();
	write_page_record_format();
	write_help_additions();
	write_text(stdout, "\n\nThe manual page describes every option, the listing format, the files\n"
	    "written and the exit status: man rowsift\n");
	end_run(0);
}

void
show_version()
{
	write_text(stdout, "rowsift %s\n", ROWSIFT_VERSION);
	end_run(0);
}

void
prompt_continue(FILE *stream)
{
	static const char prompt[] = "Hit return to continue";
	int blanks = (prompt_line_width - int(sizeof prompt - 1)) / 2;
	write_text(stream, "%*s%s", blanks, "", prompt);
}
