#include "output/log_header.h"

#include "output/messages.h"
#include "platform/clock.h"
#include "run_state.h"

std::string
abbreviate_zone(const std::string &name)
{
	std::string abbrev = name.substr(0, 3);
	size_t blank = name.find(' ');
	if (blank == std::string::npos)
		return abbrev;
	if (blank + 1 == name.size())
		return abbrev.substr(0, 1);
	abbrev[1] = name[blank + 1];
	// The character just taken is passed over.
	size_t second = name.find(' ', blank + 2);
	if (second == std::string::npos)
		return abbrev;
	if (second + 1 == name.size())
		return abbrev.substr(0, 2);
	abbrev[2] = name[second + 1];
	return abbrev;
}

static std::string
upper_case(std::string text)
{
	for (char &c : text)
		if (c >= 'a' && c <= 'z')
			c = char(c - 'a' + 'A');
	return text;
}

void
fill_time_stamp(TimeStamp &stamp, int64_t now, const ZoneSettings &zone)
{
	stamp.local_text = render_local_time(now);
	// Rendered as local time, the shifted instant shows UTC in a zone
	// without a daylight rule and one hour less in winter in one with.
	int64_t shifted = now + zone.seconds_west;
	stamp.hour_offset = int(zone.seconds_west / 3600);
	stamp.gmt_text = render_local_time(shifted);
	stamp.standard_name = zone.standard_name;
	stamp.standard_abbrev = upper_case(abbreviate_zone(zone.standard_name));
	if (zone.has_rule && !zone.daylight_name.empty()) {
		stamp.gmt_text = render_local_time(shifted - 3600);
		stamp.has_daylight = 1;
		stamp.daylight_abbrev = abbreviate_zone(zone.daylight_name);
	} else {
		stamp.daylight_abbrev.clear();
	}
}

void
make_time_stamp(TimeStamp &stamp)
{
	ZoneSettings zone = read_zone();
	fill_time_stamp(stamp, current_time(), zone);
}

void
write_time_line(FILE *stream, const TimeStamp &stamp)
{
	if (!stamp.gmt_text.empty())
		write_text(stream, "%s GMT, ", stamp.gmt_text.c_str());
	else
		write_text(stream, "%s ", stamp.local_text.c_str());
	std::string hours_minutes = stamp.local_text.size() >= 16 ?
	    stamp.local_text.substr(11, 5) : "";
	write_text(stream, "%.5s %s ", hours_minutes.c_str(), stamp.standard_name.c_str());
	// Zones without a daylight rule get a zero byte for their mark.
	write_text(stream, "(%s/%s:%d%c)", stamp.standard_abbrev.c_str(),
	    stamp.daylight_abbrev.c_str(), stamp.hour_offset,
	    stamp.has_daylight ? '*' : '\0');
	write_text(stream, "\n");
}

void
write_log_header(int argc, char **argv)
{
	TimeStamp stamp;
	make_time_stamp(stamp);
	write_text(log_stream, "\n*****************************************\n");
	write_text(log_stream, "Program:\n");
	for (int i = 0; i < argc; i++)
		write_text(log_stream, "%s ", argv[i]);
	write_text(log_stream, "\n");
	write_time_line(log_stream, stamp);
	write_text(log_stream, "\n\n");
}
