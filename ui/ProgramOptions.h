// The window program's command line (what Qt leaves of it): the data connection mode, the
// encryption mode, and a server to connect to at start (a link, as a browser passes it).
// --help is answered before Qt starts. Plain C++, so that it is tested on its own.
#pragma once

#include <string>
#include <vector>

#include "ftp/FtpTypes.h"

struct TProgramOptions {
  TDataConnectionMode DataMode = dcmAutomatic;
  TTlsMode TlsMode = tlsmAuto;
  std::string Server;  // empty: none
};

// The usage text that --help prints.
extern const char* const kProgramUsage;

// Parses the arguments that Qt left (without the program's name). False with `problem`
// set when one is not understood.
bool ParseProgramOptions(const std::vector<std::string>& arguments, TProgramOptions& options, std::string& problem);
