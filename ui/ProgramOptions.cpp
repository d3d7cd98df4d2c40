#include "ui/ProgramOptions.h"

const char* const kProgramUsage =
    "usage: TalvoFTP [--active | --passive]\n"
    "       TalvoFTP --help\n"
    "Data connections: automatic by default (active, then passive when the network or the\n"
    "server refuses active mode); --active or --passive forces one mode.\n";

bool ParseProgramOptions(const std::vector<std::string>& arguments, TProgramOptions& options, std::string& problem) {
  for (const std::string& argument : arguments) {
    if (argument == "--active") {
      options.DataMode = dcmActive;
    } else if (argument == "--passive") {
      options.DataMode = dcmPassive;
    } else {
      problem = "unknown option " + argument;
      return false;
    }
  }
  return true;
}
