#include "front/usage.h"

#include "output/messages.h"
#include "platform/terminal.h"

// The limit the first page states, a little below the loader's own.
static const long stated_record_limit = 7990000;

static const int prompt_line_width = 80;

static void
write_page_memory()
{
	write_error("\n\n");
	write_error("CAVEAT: IT IS BEST TO RUN ROWSIFT ON A PIPE \"|\" DELIMETED FILE\n\n");
	write_error("Rowsift compares two sumlist.exe outputs and lists those records that are\n");
	write_error("found in one file and not the other. Default compares the ENTIRE hash record.\n");
	write_error("Meaning the hash, path, filename, and any other data in the row are used.\n\n");
	write_error("In order for the program to work correctly, the computer must have enough\n");
	write_error("free memory (RAM) to store both files in memory while processing.\n");
	write_error("Currently, there is a max of %ld files(records) per input file.\n", stated_record_limit);
	write_error("For NT and 9X this is usually not a problem. As swap space is available\n\n");
}

static void
write_page_headers()
{
	write_error("\nAssuming each input file has \"records\" or \"lines\" for each file processed\n\n");
	write_error("The input file should have a header line  \"----- BEGIN\" just before\n");
	write_error("the start of the data, and a trailer line \"----- END\" after the last data line\n");
	write_error("This is an indication to the program where to start and stop the processing\n");
	write_error("The 5 dashes \"-----\" of the header and trailer MUST begin the line\n");
	write_error("If the files are pure data, without headers, then the -X option should be used\n\n");
	write_error("As a side benefit: If two files have the same record format\n");
	write_error("rowsift can be used to compare any 2 files on the hash field.\n");
	write_error("If the hash is the first field, it is even easier\n\n");
}

static void
write_page_command_line()
{
	write_error("\n\n\nCommand line is:   rowsift  infile1 infile2 -options[12hix [-d # -l #]]\n");
	write_error("-1:   Only show occurance from file 1 and not file 2\n");
	write_error("-2:   Only show occurance from file 2 and not file 1\n");
	write_error("      default is show differences from both files.\n");
	write_error("-i:   ignore case of records.\n");
	write_error("-x:   input files DO NOT have the ----- BEGIN and ----- END triggers.\n");
	write_error("      files are clean data files without HEADERS or TRAILERS.\n");
	write_error("-[oO]+outputfile: Filename of an output file (log) to place mismatch info. to.\n");
	write_error("      -O (uppercase) also sends output file to the default printer.\n");
	write_error("      formatted 75 characters per line.\n\n");
}

static void
write_page_compare_field()
{
	write_error("\n\n");
	write_error("-d+#: #==start compare at this character from start of record.\n");
	write_error("      use this when the drive letter is only suspected differance. \"-d 2\"\n");
	write_error("-l+#: restrict compare field length to this many characters. \n");
	write_error("      default is to compare entire record, which includes date/time/size etc.\n");
	write_error("      compare field either starts at 1, or value input using -d option.\n");
	write_error("-h:   the program calcuates the beginning and end of the hash field\n");
	write_error("      and compares only hash values, regardless of filenames, dates etc.\n");
	write_error("      this is useful if filenames have changed.\n");
	write_error("NOTE: this -h option will not work if delimeters other than | are used\n");
	write_error("Processing starts at lines containing \"----- BEGIN \" and ends at \"----- END \" \n\n");
}

static void
write_page_record_format()
{
	write_error("\n\n");
	write_error("BEST record format: If not using headers ----- BEGIN \n\n");
	write_error("MD5hash values as first field    | Path\\filename-fixed length record\n\n");
	write_error("1234567890ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n");
	write_error("0123456789ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n");
	write_error("2345678901ABCDEF01234567890ABCDE | c:\\directory\\path\\filename.ext\n");
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

void
prompt_continue(FILE *stream)
{
	static const char prompt[] = "Hit return to continue";
	int blanks = (prompt_line_width - int(sizeof prompt - 1)) / 2;
	write_text(stream, "%*s%s", blanks, "", prompt);
}
