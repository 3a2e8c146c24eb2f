// The names of the owners and groups of files.
#pragma once

#include <cstdint>
#include <string>

// The name of a user or group id; empty when it has none.
std::string user_name(uint32_t uid);
std::string group_name(uint32_t gid);
