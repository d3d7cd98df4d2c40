// A password read from a terminal without echo, as console programs ask for one: the
// prompt on standard error, the echo turned off on the terminal of `fd` for the read only,
// and the terminal's settings put back on every way out: the line read, end of file, an
// error, and Ctrl-C (or another signal that ends the program), after which the signal
// goes on to end the program as it would have.
#pragma once

#include <optional>
#include <string>

// The line typed (without its line end); nothing at end of file or on an error. A line
// longer than kMaxPassword bytes is cut there.
std::optional<std::string> ReadTerminalPassword(int fd, const std::string& prompt);

constexpr std::size_t kMaxPassword = 4096;
