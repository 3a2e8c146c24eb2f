// The log header's time line, with the clock and the zone given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "output/log_header.h"
#include "platform/clock.h"

namespace {

// 15:08:25 UTC on Monday 7 December 2026.
const int64_t worked_instant = 1796656105;

std::string
time_line(const char *tz, const ZoneSettings &zone, int64_t now)
{
	setenv("TZ", tz, 1);
	tzset();
	TimeStamp stamp;
	fill_time_stamp(stamp, now, zone);
	char *text = nullptr;
	size_t size = 0;
	FILE *stream = open_memstream(&text, &size);
	write_time_line(stream, stamp);
	fclose(stream);
	std::string line(text, size);
	free(text);
	return line;
}

} // namespace

TEST(LogHeader, ZoneAbbreviations)
{
	EXPECT_EQ(abbreviate_zone("Pacific Standard Time"), "PST");
	EXPECT_EQ(abbreviate_zone("W. Europe Standard Time"), "WES");
	EXPECT_EQ(abbreviate_zone("India Standard Time"), "IST");
	EXPECT_EQ(abbreviate_zone("est"), "est");
	EXPECT_EQ(abbreviate_zone("Abc Def"), "ADc");
	EXPECT_EQ(abbreviate_zone("Abc "), "A");
	EXPECT_EQ(abbreviate_zone("Ab Cd "), "AC");
	EXPECT_EQ(abbreviate_zone("UT"), "UT");
}

TEST(LogHeader, WorkedExampleInWinterWithADaylightRule)
{
	ZoneSettings pacific{ "Pacific Standard Time", "Pacific Daylight Time", 8 * 3600, 1 };
	EXPECT_EQ(time_line("PST8PDT", pacific, worked_instant),
	    "Mon Dec 07 14:08:25 2026 GMT, 07:08 Pacific Standard Time (PST/PDT:8*)\n");
}

TEST(LogHeader, ZoneWithoutDaylightRuleEndsInAZeroByte)
{
	ZoneSettings india{ "India Standard Time", "", -(5 * 3600 + 1800), 0 };
	EXPECT_EQ(time_line("IST-5:30", india, worked_instant),
	    std::string("Mon Dec 07 15:08:25 2026 GMT, 20:38 India Standard Time (IST/:-5\0)\n", 67));
}

TEST(LogHeader, LowerCaseNamesAndUnrenderableTimes)
{
	ZoneSettings eastern{ "est", "edt", 5 * 3600, 1 };
	std::string line = time_line("EST5EDT", eastern, worked_instant);
	EXPECT_NE(line.find("(EST/edt:5*)"), std::string::npos) << line;
	// A time past what the clock can render leaves both texts empty.
	ZoneSettings utc{ "UTC", "", 0, 0 };
	EXPECT_EQ(time_line("UTC0", utc, INT64_MAX),
	    std::string("  UTC (UTC/:0\0)\n", 16));
}
