#include "platform/owners.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <vector>

// The reentrant lookups need room for the whole entry: a group with many
// members takes more than the suggested size.  ERANGE asks for more.
template <class Entry, class Id>
static std::string
looked_up_name(Id id, int (*lookup)(Id, Entry *, char *, size_t, Entry **), char *Entry::*name)
{
	std::vector<char> buffer(1024);
	for (;;) {
		Entry entry, *found = nullptr;
		int error = lookup(id, &entry, buffer.data(), buffer.size(), &found);
		if (error == ERANGE && buffer.size() < (1u << 24)) {
			buffer.resize(buffer.size() * 4);
			continue;
		}
		return !error && found ? found->*name : "";
	}
}

std::string
user_name(uint32_t uid)
{
	return looked_up_name(uid_t(uid), getpwuid_r, &passwd::pw_name);
}

std::string
group_name(uint32_t gid)
{
	return looked_up_name(gid_t(gid), getgrgid_r, &group::gr_name);
}
