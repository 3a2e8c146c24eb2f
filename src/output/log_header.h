// The header block each run writes into its log file: the command line
// and one time line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct ZoneSettings;

struct TimeStamp {
	std::string gmt_text;
	std::string local_text;
	std::string standard_abbrev;
	std::string standard_name;
	std::string daylight_abbrev;
	int has_daylight = 0;
	int hour_offset = 0;
};

// Fills the stamp from the clock and the zone settings read now.
void make_time_stamp(TimeStamp &stamp);

// Fills the stamp for the instant now in the given zone.
void fill_time_stamp(TimeStamp &stamp, int64_t now, const ZoneSettings &zone);

// Up to three characters: the name's initials where it has blanks.
std::string abbreviate_zone(const std::string &name);

// The time line, ending in its line break.
void write_time_line(FILE *stream, const TimeStamp &stamp);

void write_log_header(int argc, char **argv);
