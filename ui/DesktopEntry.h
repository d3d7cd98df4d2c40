// Reading the desktop's application entries (the ".desktop" files of freedesktop.org
// desktops): which application the desktop prefers for a kind of file, and the argument
// vector that starts it on a file. No Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The ids of the applications the desktop's mimeapps.list files name as defaults for
// `mimeType` ("text/plain"), most preferred first: the user's files before the system's,
// the current desktop's own lists before the common ones in each folder.
std::vector<std::string> DefaultApplicationsFor(const std::string& mimeType);

// The argument vector that starts the application with id `desktopId` on `file` (on no
// file when it is empty); nothing when the entry is not found, is hidden, needs a terminal,
// or names a program that is not installed.
std::optional<std::vector<std::string>> DesktopApplicationCommand(const std::string& desktopId,
                                                                  const std::string& file);

// The arguments of an entry's Exec value (its escapes already undone) with the file put in
// place of its file field codes (%f %F %u %U), or added at the end when it has none;
// "%%" becomes "%" and every other field code is dropped.
std::vector<std::string> ExpandExec(const std::string& exec, const std::string& file);
