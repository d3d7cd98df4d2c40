// Starting another program on the user's behalf, detached from this one. No Qt, and never
// a shell: the arguments reach the program exactly as given, byte for byte, so no file
// name is ever read as a command.
#pragma once

#include <string>
#include <vector>

// Starts argv[0] (a name holding "/" as it is, any other looked up in the absolute
// directories of PATH) with exactly these arguments, in a session of its own, with
// standard input from /dev/null and none of this process's other open descriptors (the
// connection's sockets must not outlive the window in it). It is not a child of this
// process: nothing waits for it and it leaves no zombie. False when the program is not
// found or no process could be made; whether it then runs well is not followed.
bool StartDetached(const std::vector<std::string>& argv);
