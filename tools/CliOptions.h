// The console tool's command line: the options, the host and the commands, read into one
// value by a function the tests call directly; the usage text that goes with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ftp/FtpTypes.h"
#include "platform/Winsock.h"

struct TCliCommand {
  std::string verb;
  std::vector<std::string> args;
  bool recursive = false;  // get -r, put -r: a folder
};

struct TCliOptions {
  std::string host;
  std::uint16_t port = 21;
  std::string user, password, account;
  bool ascii = false;
  bool quiet = false;
  TDataConnectionMode dataMode = dcmAutomatic;
  TTlsMode tlsMode = tlsmAuto;
  int family = platform::AF_UNSPEC_VALUE;
  std::string trustFingerprint;  // normalised
  // The server speaks SFTP (an sftp:// host): the folder to start in, and the server key
  // to trust when it is not known ("SHA256:...").
  bool sftp = false;
  std::string startFolder;
  std::string trustHostKey;
  int timeoutConnect = 30;
  int timeoutArp = 20;
  std::vector<TCliCommand> commands;
};

// What the command line asks for: a session, an answer printed on standard output (--help,
// --version), the lines of a listing read in a dialect (--parse), or nothing, for a usage
// error.
struct TCommandLine {
  enum class Kind { Session, Answer, ParseListing, UsageError };
  Kind kind = Kind::UsageError;
  TCliOptions options;  // Session
  std::string text;     // Answer: the text; ParseListing: the dialect; UsageError: the problem
};

// The arguments after the program's name. Without --password, the password comes from the
// environment variable TALVOFTP_PASSWORD when it is set.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

// The name --parse takes for the lines of an MLSD listing; the others are the dialects.
constexpr const char* kMlsdDialect = "MLSD";
