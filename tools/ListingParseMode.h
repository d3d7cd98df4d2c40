// talvoftp-cli --parse DIALECT: shows how each listing line on standard input is read
// ("dir NAME", "file NAME" or "none"), one line out for each line in.
#pragma once

#include <string>

// The dialect is a server type's name or kMlsdDialect, as the command line checked it.
int ParseListing(const std::string& dialectName);
