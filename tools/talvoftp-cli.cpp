// talvoftp-cli: a console front end on the FTP engine and its message loop, for scripts,
// tests and benchmarks. It connects, runs the commands in order (each waiting for its
// completion event), quits, and prints one line per event. Texts that come from the server
// are printed escaped, so that none of them can forge a line of the output.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/FolderTransfer.h"
#include "ftp/FrenchMessages.h"
#include "ftp/Ftp.h"
#include "ftp/KnownServers.h"
#include "ftp/ListingParser.h"
#include "tools/ProgressLine.h"

namespace {

// The password can come from the environment instead of the command line, where every user
// of the machine could read it in the process list.
constexpr const char* kPasswordVariable = "TALVOFTP_PASSWORD";

constexpr const char* kUsage =
    "usage: talvoftp-cli [--port N] [--user U] [--password P] [--account A] [--ascii] [-4 | -6]\n"
    "                    [--active | --passive] [--tls auto|require|off] [--trust-fingerprint FP]\n"
    "                    [--timeout-connect S] [--timeout-arp S] [--quiet] HOST COMMAND...\n"
    "       talvoftp-cli --parse DIALECT   (listing lines on standard input)\n"
    "       talvoftp-cli --help | --version\n"
    "commands: ls | cd DIR | mkdir DIR | rmdir DIR | rm FILE | mv OLD NEW |\n"
    "          get [-r] REMOTE LOCAL | put [-r] LOCAL REMOTE | abort-at BYTES\n"
    "get -r and put -r copy a folder and everything under it: LOCAL (or REMOTE) is the\n"
    "folder that receives it, made where missing; folders deeper than 32 levels (a link\n"
    "that leads back up) stop the copy before anything is sent.\n"
    "On a terminal, one line on standard error shows each transfer's progress (not with\n"
    "--quiet).\n"
    "Without --password, the password is taken from the environment variable TALVOFTP_PASSWORD.\n"
    "HOST: a name, an IPv4 address (four decimal numbers, 192.0.2.7) or an IPv6 address,\n"
    "with or without brackets (::1, [2001:db8::7], fe80::1%eth0). A name's addresses of both\n"
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
    "Output: one line per event; an error prints its code and its French message\n"
    "(\"error ftpeTlsDowngrade Ce serveur chiffrait ...\"); a transfer stopped by abort-at\n"
    "prints \"stopped\" and what was kept. Even with --quiet, the error output says when the\n"
    "session goes on in clear, when a trusted certificate has expired, and when a server\n"
    "could not be remembered.\n";

// The name --parse takes for the lines of an MLSD listing; the others are the dialects.
constexpr const char* kMlsdDialect = "MLSD";

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

struct Command {
  std::string verb;
  std::vector<std::string> args;
  bool recursive = false;  // get -r, put -r: a folder
};

struct Options {
  std::string host;
  std::uint16_t port = 21;
  std::string user, password, account;
  bool ascii = false;
  bool quiet = false;
  TDataConnectionMode dataMode = dcmAutomatic;
  TTlsMode tlsMode = tlsmAuto;
  int family = platform::AF_UNSPEC_VALUE;
  std::string trustFingerprint;  // normalised
  int timeoutConnect = 30;
  int timeoutArp = 20;
  std::vector<Command> commands;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "talvoftp-cli: %s\n%s", problem.c_str(), UsageText().c_str());
  return 2;
}

// --help and --version: asked for, so printed on standard output, and a success.
constexpr int kAnswered = -1;

int Answer(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return kAnswered;
}

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

bool ParseNumber(const std::string& text, long long min, long long max, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value >= min && value <= max;
}

int ArgumentCount(const std::string& verb) {
  if (verb == "ls") return 0;
  if (verb == "cd" || verb == "mkdir" || verb == "rmdir" || verb == "rm" || verb == "abort-at") return 1;
  if (verb == "mv" || verb == "get" || verb == "put") return 2;
  return -1;
}

// Parses the command line; returns 0 on success, kAnswered after --help or --version, else
// the exit status of a usage error.
int ParseOptions(int argc, char** argv, Options& options) {
  bool passwordGiven = false;
  int i = 1;
  const auto value = [&](std::string& out) -> bool {
    if (i + 1 >= argc) return false;
    out = argv[++i];
    return true;
  };
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-4" || arg == "-6") {
      options.family = arg == "-4" ? platform::AF_INET_VALUE : platform::AF_INET6_VALUE;
      continue;
    }
    if (arg.rfind("--", 0) != 0) break;
    std::string text;
    long long number = 0;
    if (arg == "--help") {
      return Answer(UsageText());
    } else if (arg == "--version") {
      return Answer(std::string("talvoftp-cli (") + TVelaFtp::kVersion + ")\n");
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--ascii") {
      options.ascii = true;
    } else if (arg == "--active" || arg == "--passive") {
      options.dataMode = arg == "--active" ? dcmActive : dcmPassive;
    } else if (arg == "--tls") {
      if (!value(text) || (text != "auto" && text != "require" && text != "off")) {
        return Usage("--tls needs auto, require or off");
      }
      options.tlsMode = text == "auto" ? tlsmAuto : text == "require" ? tlsmRequire : tlsmOff;
    } else if (arg == "--trust-fingerprint") {
      if (!value(text) || (options.trustFingerprint = NormalisedFingerprint(text)).empty()) {
        return Usage("--trust-fingerprint needs a SHA-256 fingerprint (64 hexadecimal digits)");
      }
    } else if (arg == "--user") {
      if (!value(options.user)) return Usage("--user needs a value");
    } else if (arg == "--password") {
      if (!value(options.password)) return Usage("--password needs a value");
      passwordGiven = true;
    } else if (arg == "--account") {
      if (!value(options.account)) return Usage("--account needs a value");
    } else if (arg == "--port") {
      if (!value(text) || !ParseNumber(text, 1, 65535, number)) return Usage("--port needs 1 to 65535");
      options.port = static_cast<std::uint16_t>(number);
    } else if (arg == "--timeout-connect" || arg == "--timeout-arp") {
      if (!value(text) || !ParseNumber(text, 0, 3600, number)) return Usage(arg + " needs 0 to 3600 seconds");
      (arg == "--timeout-connect" ? options.timeoutConnect : options.timeoutArp) = static_cast<int>(number);
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (i >= argc) return Usage("no host");
  if (!passwordGiven) {
    if (const char* password = std::getenv(kPasswordVariable)) options.password = password;
  }
  options.host = argv[i++];
  while (i < argc) {
    Command command{argv[i++], {}};
    const int count = ArgumentCount(command.verb);
    if (count < 0) return Usage("unknown command " + command.verb);
    if ((command.verb == "get" || command.verb == "put") && i < argc && std::string_view(argv[i]) == "-r") {
      command.recursive = true;
      ++i;
    }
    for (int k = 0; k < count; ++k) {
      if (i >= argc) return Usage(command.verb + " needs " + std::to_string(count) + " argument(s)");
      command.args.push_back(argv[i++]);
    }
    long long bytes = 0;
    if (command.verb == "abort-at" && !ParseNumber(command.args[0], 0, INT64_MAX, bytes)) {
      return Usage("abort-at needs a byte count");
    }
    options.commands.push_back(command);
  }
  return 0;
}

int ParseListing(const std::string& dialectName) {
  TFTPServerType dialect{};
  const bool mlsd = dialectName == kMlsdDialect;
  if (!mlsd && !ServerTypeFromName(dialectName, dialect)) return Usage("unknown dialect " + dialectName);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ListingEntry entry;
    if (mlsd ? ParseMlsdLine(line, entry) : ParseListingLine(dialect, line, entry)) {
      std::cout << (entry.IsDirectory ? "dir " : "file ") << entry.Name << '\n';
    } else {
      std::cout << "none\n";
    }
  }
  return 0;
}

// Drives one session: connect, the commands one after another, quit.
class Session {
 public:
  explicit Session(const Options& options) : options_(options) {
    ftp_.SetFtpServer(options.host);
    ftp_.FtpPort = options.port;
    ftp_.TimeOutConnect = options.timeoutConnect;
    ftp_.TimeOutArp = options.timeoutArp;
    ftp_.AddressFamily = options.family;
    ftp_.TransferMode = options.ascii ? AsciiTransfer : BinaryTransfer;
    ftp_.DataConnectionMode = options.dataMode;
    ftp_.TlsMode = options.tlsMode;
    ftp_.KnownServersFile = DefaultKnownServersPath();
    ftp_.OnFtpCertificate = [this](TObject*, const TFtpCertificateQuestion& question, bool& trust) {
      OnCertificate(question, trust);
    };
    ftp_.OnFtpInfo = [this](TObject*, FtpInfo info, const std::string& addinfo) { OnInfo(info, addinfo); };
    folder_.OnScanned = [this] { FolderScanned(); };
    folder_.OnFinished = [this] { FolderDone(); };
    ftp_.OnFtpError = [this](TObject*, FtpError error, std::string addinfo) {
      folder_.ErrorReported();
      failed_ = true;
      std::string line = std::string("error ") + FtpErrorName(error);
      if (const std::optional<std::string> message = talvo::ui::ErrorMessage(error, addinfo)) {
        line += ' ';
        line += Escape(*message);
      }
      Print(true, line);
    };
    ftp_.OnFtpNeedInfo = [this](TObject*, TFtpInfoNeeded need, std::string& value) { OnNeed(need, value); };
    ftp_.OnFtpReady = [this](TObject*) { Print(false, "ready"); };
    ftp_.OnFtpQuit = [this](TObject*) {
      Print(false, "quit");
      quitSeen_ = true;
    };
    ftp_.OnLoggedIn = [this](TObject*) {
      Done("OnLoggedIn");
      if (!ftp_.Success) return;
      Print(true, std::string("type ") + ServerTypeName(ftp_.ServerType));
      Next();
    };
    const auto simple = [this](const char* name) {
      return [this, name](TObject*) {
        if (folder_.OperationDone()) return;
        Done(name);
        Next();
      };
    };
    ftp_.OnDirectoryChanged = simple("OnDirectoryChanged");
    ftp_.OnDirectoryCreated = simple("OnDirectoryCreated");
    ftp_.OnDirectoryDeleted = simple("OnDirectoryDeleted");
    ftp_.OnFileDeleted = simple("OnFileDeleted");
    ftp_.OnFileRenamed = simple("OnFileRenamed");
    ftp_.OnFileReceived = [this](TObject*) { TransferDone("OnFileReceived"); };
    ftp_.OnFileStored = [this](TObject*) { TransferDone("OnFileStored"); };
    ftp_.OnListingDone = [this](TObject*) {
      if (folder_.OperationDone()) return;
      Done("OnListingDone");
      Print(true, "cwd " + Escape(ftp_.InitialDirectory));
      for (const auto& name : ftp_.DirectoryNames) Print(true, "dir " + Escape(name));
      for (const auto& name : ftp_.FileNames) Print(true, "file " + Escape(name));
      Next();
    };
  }

  int Run() {
    auto& loop = platform::MessageLoop::Current();
    ftp_.Connect();
    // Refused before any connection attempt: no notification will follow.
    if (ftp_.LastError == ftpeNoServer || ftp_.LastError == ftpeWinsockNotInitialized) return 1;
    while (!quitSeen_) loop.RunUntil([this] { return quitSeen_; }, 1000);
    loop.DispatchPending();  // a second quit notification follows a network error
    std::fflush(stdout);
    return failed_ || !allDone_ ? 1 : 0;
  }

 private:
  void Print(bool essential, const std::string& line) {
    if (options_.quiet && !essential) return;
    if (stdoutIsTerminal_) progress_.Clear();  // not to write over the progress line
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }

  void OnInfo(FtpInfo info, const std::string& addinfo) {
    if (info == ftpiProgress && abortAt_ >= 0 && ftp_.BytesTransferred >= abortAt_) {
      abortAt_ = -1;
      stopping_ = true;
      ftp_.Abort();
    }
    Warn(info, addinfo);
    if (!options_.quiet) Print(false, std::string("info ") + FtpInfoName(info) + " " + Escape(addinfo));
    if (info == ftpiProgress && addinfo.empty()) ShowProgress();
  }

  // What weakens the session's protection is said on the error output, even with --quiet:
  // a session in clear, an expired certificate taken, a server that could not be remembered.
  void Warn(FtpInfo info, const std::string& addinfo) {
    std::string line;
    if (info == ftpiTlsRefused) {
      line = talvo::ui::TlsRefusedLine(addinfo);
    } else if (info == ftpiCertificateExpired) {
      line = talvo::ui::CertificateExpiredLine();
    } else if (info == ftpiServerNotRemembered) {
      line = talvo::ui::ServerNotRememberedLine(addinfo);
    } else {
      return;
    }
    progress_.Clear();
    std::fprintf(stderr, "talvoftp-cli: %s\n", Escape(line).c_str());
  }

  // Every reason a certificate is not verified, as the tool prints it.
  static std::string Problems(const TFtpCertificateQuestion& question) {
    std::string problems;
    const auto add = [&problems](const std::string& problem) {
      problems += (problems.empty() ? "" : "; ") + problem;
    };
    if (!question.CertificateNames.empty()) add("it names " + question.CertificateNames + ", not " + question.Host);
    if (!question.Problem.empty()) add(question.Problem);
    if (question.Expired) add("expired");
    return problems;
  }

  // Only a fingerprint given on the command line makes an unverified certificate trusted.
  void OnCertificate(const TFtpCertificateQuestion& question, bool& trust) {
    Print(true, "certificate " + question.Fingerprint);
    trust = !options_.trustFingerprint.empty() && options_.trustFingerprint == question.Fingerprint;
    if (trust) return;
    const std::string where = question.Host + ":" + std::to_string(question.Port);
    std::string why = question.PinnedFingerprint.empty()
                          ? "is not verified (" + Problems(question) + ")"
                          : "changed since it was trusted (it was " + question.PinnedFingerprint + ")";
    std::fprintf(stderr, "talvoftp-cli: the certificate of %s %s; its SHA-256 fingerprint is %s; to trust it: "
                 "--trust-fingerprint %s\n", Escape(where).c_str(), Escape(why).c_str(), question.Fingerprint.c_str(),
                 question.Fingerprint.c_str());
  }

  void OnNeed(TFtpInfoNeeded need, std::string& value) {
    Print(false, std::string("need ") + FtpInfoNeededName(need));
    switch (need) {
      case ftpnServer: value = options_.host; break;
      case ftpnUserName: value = options_.user; break;
      case ftpnPassword: value = options_.password; break;
      case ftpnAccount: value = options_.account; break;
    }
  }

  void Done(const char* event) {
    if (!ftp_.Success) failed_ = true;
    Print(true, std::string("done ") + event + " " + (ftp_.Success ? "1" : "0"));
  }

  void TransferDone(const char* event) {
    if (folder_.OperationDone()) return;
    progress_.Clear();
    Done(event);
    Print(true, "bytes " + std::to_string(ftp_.BytesTransferred) + " ms " + std::to_string(ftp_.TransferTime));
    if (stopping_ && !ftp_.Success) {
      const bool download = std::string(event) == "OnFileReceived";
      const long long kept = ftp_.ResumedFrom + ftp_.BytesTransferred;
      Print(true, "stopped " + Escape(talvo::ui::StoppedTransferLine(download, kept, ftp_.LocalFile + ".part")));
    }
    stopping_ = false;
    Next();
  }

  // Starts the next command, or quits when none is left.
  void Next() {
    while (next_ < options_.commands.size()) {
      const Command& c = options_.commands[next_++];
      if (c.verb == "abort-at") {
        abortAt_ = std::stoll(c.args[0]);
        continue;
      }
      if (c.verb == "ls") {
        ftp_.GetListing();
      } else if (c.verb == "cd") {
        ftp_.ChangeDirectory(c.args[0]);
      } else if (c.verb == "mkdir") {
        ftp_.CreateDirectory(c.args[0]);
      } else if (c.verb == "rmdir") {
        ftp_.DeleteDirectory(c.args[0]);
      } else if (c.verb == "rm") {
        ftp_.DeleteFile(c.args[0]);
      } else if (c.verb == "mv") {
        ftp_.RenameFile(c.args[0], c.args[1]);
      } else if (c.recursive) {
        StartFolder(c);
      } else if (c.verb == "get") {
        ftp_.RemoteFile = c.args[0];
        ftp_.LocalFile = c.args[1];
        ftp_.ReceiveFile();
      } else if (c.verb == "put") {
        ftp_.LocalFile = c.args[0];
        ftp_.RemoteFile = c.args[1];
        ftp_.StoreFile();
      }
      return;
    }
    allDone_ = true;
    ftp_.Quit();
  }

  // get -r and put -r: the folder's scan, then at once its transfer.
  void StartFolder(const Command& c) {
    const bool get = c.verb == "get";
    folder_.Start(get ? TFolderTransfer::Direction::Download : TFolderTransfer::Direction::Upload,
                  {{get ? c.args[0] : c.args[1], get ? c.args[1] : c.args[0]}});
  }

  void FolderScanned() {
    std::string counts = "folder files " + std::to_string(folder_.Files().size()) + " bytes " +
                         std::to_string(folder_.KnownBytes());
    if (folder_.UnknownSizes() > 0) counts += " unknown " + std::to_string(folder_.UnknownSizes());
    Print(true, counts);
    folderStart_ = std::chrono::steady_clock::now();
    folder_.Go();
  }

  void FolderDone() {
    progress_.Clear();
    for (const std::string& name : folder_.RefusedNames()) {
      std::fprintf(stderr, "talvoftp-cli: not copied, its name would leave the local folder: %s\n",
                   Escape(name).c_str());
    }
    const std::string problem = Escape(folder_.Problem());
    switch (folder_.outcome()) {
      case TFolderTransfer::Outcome::TooDeep:
        std::fprintf(stderr, "talvoftp-cli: %s holds folders more than %d levels deep (a link that leads back "
                     "up?); nothing was copied\n", problem.c_str(), TFolderTransfer::kMaxDepth);
        break;
      case TFolderTransfer::Outcome::FolderUnreadable:
      case TFolderTransfer::Outcome::LocalFolderFailed:
        std::fprintf(stderr, "talvoftp-cli: the folder %s could not be %s\n", problem.c_str(),
                     folder_.outcome() == TFolderTransfer::Outcome::LocalFolderFailed ? "made" : "read or entered");
        break;
      default:
        break;
    }
    const bool sent = folder_.outcome() == TFolderTransfer::Outcome::Sent;
    if (!sent) failed_ = true;
    Print(true, std::string("done folder ") + (sent ? "1" : "0") + " files " + std::to_string(folder_.FilesDone()) +
                    " bytes " + std::to_string(folder_.BytesDone()));
    if (folder_.outcome() != TFolderTransfer::Outcome::Abandoned) Next();
  }

  // The running file's progress, and in a folder transfer the folder's.
  void ShowProgress() {
    if (!progress_.Due()) return;
    std::int64_t done = ftp_.ResumedFrom + ftp_.BytesTransferred, total = ftp_.ExpectedSize;
    std::int64_t elapsed = ftp_.TransferTime, startedAt = ftp_.ResumedFrom;
    std::string text;
    if (folder_.phase() == TFolderTransfer::Phase::Transferring) {
      startedAt = 0;
      done += folder_.BytesDone();
      total = folder_.KnownBytes();
      elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                      folderStart_).count();
      text = "fichier " + std::to_string(folder_.FilesDone() + 1) + "/" + std::to_string(folder_.Files().size()) +
             ", ";
    }
    progress_.Show(text + ProgressText(done, total, elapsed, startedAt));
  }

  const Options& options_;
  TVelaFtp ftp_;
  TFolderTransfer folder_{ftp_};
  TProgressLine progress_{!options_.quiet && ::isatty(2) == 1};
  const bool stdoutIsTerminal_ = ::isatty(1) == 1;
  std::chrono::steady_clock::time_point folderStart_;
  std::size_t next_ = 0;
  long long abortAt_ = -1;
  bool stopping_ = false;  // abort-at stopped the running transfer
  bool failed_ = false;
  bool allDone_ = false;
  bool quitSeen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--parse") {
    if (argc != 3) return Usage("--parse needs a dialect");
    return ParseListing(argv[2]);
  }
  Options options;
  if (const int status = ParseOptions(argc, argv, options); status != 0) return status == kAnswered ? 0 : status;
  Session session(options);
  return session.Run();
}
