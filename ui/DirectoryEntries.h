// Reading one local directory for the local pane's lists: the names of its visible entries
// (not starting with ".") of the kind wanted, in the order the directory yields them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "session/LocalNames.h"  // JoinPath

std::vector<std::string> VisibleEntries(const std::string& directory, bool (*wanted)(mode_t mode));
