// Checks on names that come from the server before they are used on the local disk.
#pragma once

#include <string>

// True when `name` names an entry directly inside a directory: not empty, not "." or
// "..", and without "/" or a zero byte. Anything else would write elsewhere or nowhere.
bool IsPlainFileName(const std::string& name);
