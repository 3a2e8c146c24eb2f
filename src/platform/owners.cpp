#include "platform/owners.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <vector>

// The reentrant lookups need room for the whole entry: a group with many
// members takes more than the suggested size.  ERANGE asks for more.
std::string
user_name(uint32_t uid)
{
	std::vector<char> buffer(1024);
	for (;;) {
		struct passwd entry, *found = nullptr;
		int error = getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &found);
		if (error == ERANGE && buffer.size() < (1u << 24)) {
			buffer.resize(buffer.size() * 4);
			continue;
		}
		return !error && found ? found->pw_name : "";
	}
}

std::string
group_name(uint32_t gid)
{
	std::vector<char> buffer(1024);
	for (;;) {
		struct group entry, *found = nullptr;
		int error = getgrgid_r(gid_t(gid), &entry, buffer.data(), buffer.size(), &found);
		if (error == ERANGE && buffer.size() < (1u << 24)) {
			buffer.resize(buffer.size() * 4);
			continue;
		}
		return !error && found ? found->gr_name : "";
	}
}
