// How the console tool writes text that came from a server: escaped, so that none of it can
// forge a line of the output.
#pragma once

#include <string>

std::string Escape(const std::string& text);
