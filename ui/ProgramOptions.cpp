#include "ui/ProgramOptions.h"

const char* const kProgramUsage =
    "usage: TalvoFTP [--active | --passive] [--tls auto|require|off] [SERVER]\n"
    "       TalvoFTP --help\n"
    "The server asked for at \"Connecter\": a name, an IPv4 address (192.0.2.7) or an IPv6\n"
    "address, with or without brackets (::1, [2001:db8::7], fe80::1%eth0), with :PORT after\n"
    "it (host:2121, [::1]:2121); or a link, ftp://[USER[:PASSWORD]@]HOST[:PORT][/PATH],\n"
    "ftps://... (TLS required) or sftp://... (a server that speaks SFTP; its path is\n"
    "absolute, or in the home folder when it begins with /~/), whose folder is entered once\n"
    "logged in (a file's folder, with the file selected). SERVER connects to it at start,\n"
    "as \"Connecter\" would.\n"
    "Data connections: automatic by default (active, then passive when the network or the\n"
    "server refuses active mode); --active or --passive forces one mode.\n"
    "Encryption (explicit TLS): auto by default (in clear only when the server refuses it and\n"
    "never did TLS before); require never logs in without it; off never asks for it.\n";

bool ParseProgramOptions(const std::vector<std::string>& arguments, TProgramOptions& options, std::string& problem) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--tls") {
      const std::string mode = i + 1 < arguments.size() ? arguments[++i] : std::string();
      if (mode != "auto" && mode != "require" && mode != "off") {
        problem = "--tls needs auto, require or off";
        return false;
      }
      options.TlsMode = mode == "auto" ? tlsmAuto : mode == "require" ? tlsmRequire : tlsmOff;
    } else if (argument == "--active") {
      options.DataMode = dcmActive;
    } else if (argument == "--passive") {
      options.DataMode = dcmPassive;
    } else if (argument.rfind("-", 0) != 0 && options.Server.empty()) {
      options.Server = argument;
    } else {
      problem = (argument.rfind("-", 0) == 0 ? "unknown option " : "one server only: ") + argument;
      return false;
    }
  }
  return true;
}
