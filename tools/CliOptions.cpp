#include "tools/CliOptions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ftp/Ftp.h"
#include "session/KnownServers.h"

namespace {

// The password can come from the environment instead of the command line, where every user
// of the machine could read it in the process list.
constexpr const char* kPasswordVariable = "TALVOFTP_PASSWORD";

constexpr const char* kUsage =
    "usage: talvoftp-cli [--port N] [--user U] [--password P | --password-file FILE] [--account A]\n"
    "                    [--ascii] [-4 | -6] [--active | --passive] [--tls auto|require|off]\n"
    "                    [--trust-fingerprint FP] [--trust-host-key SHA256:...]\n"
    "                    [--timeout-connect S] [--timeout-arp S] [--quiet] HOST COMMAND...\n"
    "       talvoftp-cli --parse DIALECT   (listing lines on standard input)\n"
    "       talvoftp-cli --help | --version\n"
    "commands: ls | cd DIR | mkdir DIR | rmdir DIR | rm FILE | rename OLD NEW | mv OLD NEW |\n"
    "          get [-r] REMOTE LOCAL | put [-r] LOCAL REMOTE | abort-at BYTES\n"
    "get -r and put -r copy a folder and everything under it: LOCAL (or REMOTE) is the\n"
    "folder that receives it, made where missing. A folder that leads back to one that\n"
    "holds it, a local link that leads out of the folder, and whatever else is not copied\n"
    "are named on the error output (exit status 1); folders deeper than 32 levels stop the\n"
    "copy before anything is sent.\n"
    "On a terminal, one line on standard error shows each transfer's progress (not with\n"
    "--quiet).\n"
    "Ctrl-C or SIGTERM stops the running transfer as abort-at does, runs no further\n"
    "command and exits with 130 (Ctrl-C) or 143 (SIGTERM).\n"
    "The password: --password, or the first line of --password-file FILE, or the link's, or\n"
    "the environment variable TALVOFTP_PASSWORD, or ~/.netrc (machine, login, password,\n"
    "account, default; refused when others may read it), or the desktop's keyring (the\n"
    "window's remembered passwords); else, when the server asks for one and standard input\n"
    "is a terminal, it is asked for there, without echo. The user: --user, the link's, or\n"
    "~/.netrc's login.\n"
    "HOST: a name, an IPv4 address (four decimal numbers, 192.0.2.7) or an IPv6 address,\n"
    "with or without brackets (::1, [2001:db8::7], fe80::1%eth0), with :PORT after it\n"
    "(host:2121, [::1]:2121); or a link, ftp://[USER[:PASSWORD]@]HOST[:PORT][/FOLDER],\n"
    "ftps://... (TLS required) or sftp://... (a server that speaks SFTP, port 22 unless\n"
    "given), with %XX escapes; its folder is entered before the commands (an sftp:// folder\n"
    "is absolute, or in the home folder when it begins with /~/). A name's addresses of both\n"
    "families are tried in turn; -4 or -6 uses only IPv4 or only IPv6 addresses.\n"
    "Data connections: automatic by default (active, then passive when the network or the\n"
    "server refuses active mode); --active or --passive forces one mode.\n"
    "Encryption (explicit TLS): auto by default (AUTH TLS, in clear only when the server\n"
    "refuses it and never did TLS before); require never logs in without it; off never asks.\n"
    "A certificate that does not verify (self-signed, signed for another host name, expired)\n"
    "is refused, its problems and SHA-256 fingerprint printed; accept it with\n"
    "--trust-fingerprint FP (hexadecimal, colons optional). Servers that did TLS are\n"
    "remembered with their certificate, under the name typed and the address connected to,\n"
    "in $XDG_CONFIG_HOME/talvo-ftp/known-servers (or ~/.config/talvo-ftp/known-servers).\n"
    "SFTP: the server's key must be known in ~/.ssh/known_hosts (hashed lines too); an unknown\n"
    "key is refused, its fingerprint printed; accept it (and add it there) with\n"
    "--trust-host-key SHA256:... . A key that changed is always refused. ~/.ssh/config gives\n"
    "Host aliases, HostName, Port, User and IdentityFile; the login tries the keys of a\n"
    "running ssh-agent, then ~/.ssh/id_ed25519, id_ecdsa and id_rsa (or IdentityFile), then\n"
    "the password.\n"
    "Output: one line per event; an error prints its code and its French message\n"
    "(\"error ftpeTlsDowngrade Ce serveur chiffrait ...\"); a transfer stopped by abort-at\n"
    "prints \"stopped\" and what was kept. Even with --quiet, the error output says when the\n"
    "session goes on in clear, when a trusted certificate has expired, when a server could\n"
    "not be remembered, when a download writes its file in place, and why a command failed.\n"
    "Server text is printed with control characters escaped (\\\\, \\r, \\n, \\xHH).\n";

bool ParseNumber(const std::string& text, long long min, long long max, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value >= min && value <= max;
}

// The first line of the file, without its line end; false with errno set when it cannot
// be read.
bool ReadPasswordFile(const std::string& path, std::string& password) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while (text.find('\n') == std::string::npos && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  const int error = errno;
  ::close(fd);
  if (n < 0) {
    errno = error;
    return false;
  }
  password = text.substr(0, text.find('\n'));
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

int ArgumentCount(const std::string& verb) {
  if (verb == "ls") return 0;
  if (verb == "cd" || verb == "mkdir" || verb == "rmdir" || verb == "rm" || verb == "abort-at") return 1;
  if (verb == "rename" || verb == "mv" || verb == "get" || verb == "put") return 2;
  return -1;
}

}  // namespace

// The usage, with the dialect names that --parse takes, a few to a line.
std::string UsageText() {
  std::string text = std::string(kUsage) + "Dialects for --parse (lines in the Windows style are read in every one):\n ";
  std::size_t column = 1;
  for (int i = 0; i <= kServerTypeCount; ++i) {
    const std::string_view name = i < kServerTypeCount ? ServerTypeName(static_cast<TFTPServerType>(i)) : kMlsdDialect;
    if (column + 1 + name.size() > 77) {
      text += "\n ";
      column = 1;
    }
    text += ' ';
    text += name;
    column += 1 + name.size();
  }
  return text + "\n";
}

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine result;
  const auto usage = [&result](const std::string& problem) {
    result.kind = TCommandLine::Kind::UsageError;
    result.text = problem;
    return result;
  };
  const auto answer = [&result](const std::string& text) {
    result.kind = TCommandLine::Kind::Answer;
    result.text = text;
    return result;
  };
  if (!args.empty() && args[0] == "--parse") {
    if (args.size() != 2) return usage("--parse needs a dialect");
    TFTPServerType dialect{};
    if (args[1] != kMlsdDialect && !ServerTypeFromName(args[1], dialect)) return usage("unknown dialect " + args[1]);
    result.kind = TCommandLine::Kind::ParseListing;
    result.text = args[1];
    return result;
  }
  TCliOptions& options = result.options;
  const std::size_t argc = args.size();
  bool passwordGiven = false;
  bool portGiven = false;
  bool userGiven = false;
  std::size_t i = 0;
  const auto value = [&](std::string& out) -> bool {
    if (i + 1 >= argc) return false;
    out = args[++i];
    return true;
  };
  for (; i < argc; ++i) {
    const std::string arg = args[i];
    if (arg == "-4" || arg == "-6") {
      options.family = arg == "-4" ? platform::AF_INET_VALUE : platform::AF_INET6_VALUE;
      continue;
    }
    if (arg.rfind("--", 0) != 0) break;
    std::string text;
    long long number = 0;
    if (arg == "--help") {
      return answer(UsageText());
    } else if (arg == "--version") {
      return answer(std::string("talvoftp-cli (") + TVelaFtp::kVersion + ")\n");
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--ascii") {
      options.ascii = true;
    } else if (arg == "--active" || arg == "--passive") {
      options.dataMode = arg == "--active" ? dcmActive : dcmPassive;
    } else if (arg == "--tls") {
      if (!value(text) || (text != "auto" && text != "require" && text != "off")) {
        return usage("--tls needs auto, require or off");
      }
      options.tlsMode = text == "auto" ? tlsmAuto : text == "require" ? tlsmRequire : tlsmOff;
    } else if (arg == "--trust-fingerprint") {
      if (!value(text) || (options.trustFingerprint = NormalisedFingerprint(text)).empty()) {
        return usage("--trust-fingerprint needs a SHA-256 fingerprint (64 hexadecimal digits)");
      }
    } else if (arg == "--trust-host-key") {
      if (!value(options.trustHostKey) || options.trustHostKey.rfind("SHA256:", 0) != 0) {
        return usage("--trust-host-key needs a key's fingerprint, SHA256:...");
      }
    } else if (arg == "--user") {
      if (!value(options.user)) return usage("--user needs a value");
      userGiven = true;
    } else if (arg == "--password" || arg == "--password-file") {
      if (passwordGiven) return usage("--password and --password-file: one of them only");
      if (!value(text)) return usage(arg + " needs a value");
      if (arg == "--password") {
        options.password = text;
      } else if (!ReadPasswordFile(text, options.password)) {
        result.kind = TCommandLine::Kind::InputError;
        result.text = "the password file " + text + " cannot be read (" + std::strerror(errno) + ")";
        return result;
      }
      passwordGiven = true;
    } else if (arg == "--account") {
      if (!value(options.account)) return usage("--account needs a value");
    } else if (arg == "--port") {
      if (!value(text) || !ParseNumber(text, 1, 65535, number)) return usage("--port needs 1 to 65535");
      options.port = static_cast<std::uint16_t>(number);
      portGiven = true;
    } else if (arg == "--timeout-connect" || arg == "--timeout-arp") {
      if (!value(text) || !ParseNumber(text, 0, 3600, number)) return usage(arg + " needs 0 to 3600 seconds");
      (arg == "--timeout-connect" ? options.timeoutConnect : options.timeoutArp) = static_cast<int>(number);
    } else {
      return usage("unknown option " + arg);
    }
  }
  if (i >= argc) return usage("no host");
  TServerTarget server;
  std::string problem;
  if (!ParseServerText(args[i++], server, problem)) {
    result.kind = TCommandLine::Kind::InputError;
    result.text = problem;
    return result;
  }
  if (server.Protocol == TServerProtocol::Ftps) {
    if (options.tlsMode == tlsmOff) return usage("an ftps link needs TLS: not with --tls off");
    options.tlsMode = tlsmRequire;
  }
  options.protocol = server.Protocol;
  options.host = server.Host;
  if (server.Port != 0) {
    if (portGiven && server.Port != options.port) return usage("--port and the port of HOST differ");
    options.port = server.Port;
  } else if (server.Link && !portGiven) {
    options.port = DefaultPort(server.Protocol);
  }
  if (!userGiven && server.User) options.user = *server.User;
  if (!passwordGiven && server.Password) {
    options.password = *server.Password;
    passwordGiven = true;
  }
  if (!passwordGiven) {
    if (const char* password = std::getenv(kPasswordVariable)) {
      options.password = password;
      passwordGiven = true;
    }
  }
  options.passwordGiven = passwordGiven;
  if (std::string folder = StartFolder(server); !folder.empty()) {
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    options.commands.push_back({"cd", {folder}});
  }
  while (i < argc) {
    TCliCommand command{args[i++], {}};
    const int count = ArgumentCount(command.verb);
    if (count < 0) return usage("unknown command " + command.verb);
    if ((command.verb == "get" || command.verb == "put") && i < argc && args[i] == "-r") {
      command.recursive = true;
      ++i;
    }
    for (int k = 0; k < count; ++k) {
      if (i >= argc) return usage(command.verb + " needs " + std::to_string(count) + " argument(s)");
      command.args.push_back(args[i++]);
    }
    long long bytes = 0;
    if (command.verb == "abort-at" && !ParseNumber(command.args[0], 0, INT64_MAX, bytes)) {
      return usage("abort-at needs a byte count");
    }
    options.commands.push_back(command);
  }
  result.kind = TCommandLine::Kind::Session;
  return result;
}

