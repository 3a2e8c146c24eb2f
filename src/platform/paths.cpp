#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Empty when the directory can't be named (removed, or out of reach).
static std::string
current_directory()
{
	std::vector<char> buffer(4096);
	while (!getcwd(buffer.data(), buffer.size())) {
		if (errno != ERANGE)
			return "";
		buffer.resize(buffer.size() * 2);
	}
	return buffer.data();
}

std::string
full_path(const char *name)
{
	std::string joined = name;
	if (name[0] != '/') {
		std::string directory = current_directory();
		if (directory.empty())
			return "";
		joined = directory + "/" + name;
	}
	std::vector<std::string> parts;
	size_t pos = 0;
	while (pos <= joined.size()) {
		size_t slash = joined.find('/', pos);
		if (slash == std::string::npos)
			slash = joined.size();
		std::string part = joined.substr(pos, slash - pos);
		if (part == "..") {
			if (!parts.empty())
				parts.pop_back();
		} else if (!part.empty() && part != ".") {
			parts.push_back(part);
		}
		pos = slash + 1;
	}
	std::string path;
	for (const std::string &part : parts)
		path += "/" + part;
	// A name that ends in a separator still names a directory.
	if (!joined.empty() && joined.back() == '/' && !parts.empty())
		path += "/";
	return path.empty() ? "/" : path;
}

std::string
resolved_path(const char *name, const std::string &shown)
{
	struct stat typed, made;
	if (stat(name, &typed) != 0 || (stat(shown.c_str(), &made) == 0 &&
	    made.st_dev == typed.st_dev && made.st_ino == typed.st_ino))
		return shown;
	char *resolved = realpath(name, nullptr);
	if (!resolved)
		return shown;
	std::string path = resolved;
	free(resolved);
	return path;
}
