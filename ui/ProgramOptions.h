// The window program's command line (what Qt leaves of it): the data connection mode and
// the encryption mode.
// --help is answered before Qt starts. Plain C++, so that it is tested on its own.
#pragma once

#include <string>
#include <vector>

#include "ftp/FtpTypes.h"

struct TProgramOptions {
  TDataConnectionMode DataMode = dcmAutomatic;
  TTlsMode TlsMode = tlsmAuto;
};

// The usage text that --help prints.
extern const char* const kProgramUsage;

// Parses the arguments that Qt left (without the program's name). False with `problem`
// set when one is not understood.
bool ParseProgramOptions(const std::vector<std::string>& arguments, TProgramOptions& options, std::string& problem);
