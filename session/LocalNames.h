// Local paths made from names that come from the server, and the check those names pass
// before they are used on the local disk.
#pragma once

#include <string>

// True when `name` names an entry directly inside a directory: not empty, not "." or
// "..", and without "/" or a zero byte. Anything else would write elsewhere or nowhere.
bool IsPlainFileName(const std::string& name);

// Joins a directory and a name with one "/" (none added after the root's own).
std::string JoinPath(const std::string& directory, const std::string& name);
