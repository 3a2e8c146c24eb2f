// The clock and the time-zone settings, for the log header.
#pragma once

#include <cstdint>
#include <string>

struct ZoneSettings {
	std::string standard_name;
	std::string daylight_name;
	long seconds_west = 0;	// local standard time is this far behind UTC
	int has_rule = 0;	// the zone has a daylight-saving rule
};

// Loads the process's zone settings (from TZ) anew.
ZoneSettings read_zone();

int64_t current_time();

// The time as local time in the layout "Www Mmm dd hh:mm:ss yyyy", the
// day zero-padded; empty when it can't be rendered.
std::string render_local_time(int64_t t);
