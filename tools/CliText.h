// How the console tool writes text that came from a server (or a name on the disk):
// escaped, so that none of it can forge a line of the output or command the terminal. A
// backslash, CR and LF read \\, \r and \n; other control characters \xHH (\x1B for ESC),
// and C1 controls \u0080 to \u009F.
#pragma once

#include <string>

std::string Escape(const std::string& text);
