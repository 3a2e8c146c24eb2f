#include "platform/clock.h"

#include <ctime>

ZoneSettings
read_zone()
{
	tzset();
	ZoneSettings zone;
	zone.standard_name = tzname[0] ? tzname[0] : "";
	zone.daylight_name = tzname[1] ? tzname[1] : "";
	zone.seconds_west = timezone;
	zone.has_rule = daylight;
	return zone;
}

int64_t
current_time()
{
	return int64_t(time(nullptr));
}

std::string
render_local_time(int64_t t)
{
	time_t when = time_t(t);
	struct tm parts;
	char text[64];
	// The program sets no locale, so names come out in English.
	if (!localtime_r(&when, &parts) ||
	    strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &parts) == 0)
		return "";
	return std::string(text).substr(0, 24);
}
