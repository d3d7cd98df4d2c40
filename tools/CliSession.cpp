#include "tools/CliSession.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "ftp/Ftp.h"
#include "sftp/Sftp.h"
#include "platform/MessageLoop.h"
#include "session/FolderTransfer.h"
#include "session/KnownServers.h"
#include "session/WalkEvents.h"
#include "texts/FrenchMessages.h"
#include "tools/CertificateAnswer.h"
#include "tools/CliCredentials.h"
#include "tools/CliText.h"
#include "tools/Interruption.h"
#include "tools/ProgressLine.h"
#include "tools/TerminalPassword.h"

namespace {

// Drives one session: connect, the commands one after another, quit. The session is FTP's
// or, for an sftp:// host, SFTP's; both are driven the same way.
class TCliSession {
 public:
  explicit TCliSession(const TCliOptions& options)
      : options_(options),
        ftp_(Sftp(options) ? nullptr : std::make_unique<TVelaFtp>()),
        sftp_(Sftp(options) ? std::make_unique<TVelaSftp>() : nullptr),
        session_(sftp_ ? static_cast<TFileSession&>(*sftp_) : static_cast<TFileSession&>(*ftp_)) {
    if (ftp_) {
      Bind(*ftp_);
      ftp_->TransferMode = options.ascii ? AsciiTransfer : BinaryTransfer;
      ftp_->DataConnectionMode = options.dataMode;
      ftp_->TlsMode = options.tlsMode;
      ftp_->KnownServersFile = DefaultKnownServersPath();
      ftp_->OnFtpCertificate = [this](TObject*, const TFtpCertificateQuestion& question, bool& trust) {
        OnCertificate(question, trust);
      };
    } else {
      Bind(*sftp_);
      sftp_->UserName = options.user;
      sftp_->UserPassword = options.password;
      sftp_->OnSftpHostKey = [this](TObject*, const TSftpHostKeyQuestion& question, bool& trust) {
        OnHostKey(question, trust);
      };
    }
    folder_.OnScanned = [this] { FolderScanned(); };
    folder_.OnFinished = [this] { FolderDone(); };
    folder_.OnFileDone = [this] { fileMoving_ = false; };  // the next file's counters are its own
    session_.OnFtpReady = [this](TObject*) {
      lastReply_.clear();
      Print(false, "ready");
    };
    session_.OnFtpQuit = [this](TObject*) {
      Print(false, "quit");
      quitSeen_ = true;
    };
    session_.OnLoggedIn = [this](TObject*) {
      Done("OnLoggedIn");
      if (!session_.Success) return;
      Print(true, std::string("type ") + (ftp_ ? ServerTypeName(ftp_->ServerType) : "sftp"));
      Next();
    };
    const auto simple = [this](const char* name) {
      return [this, name](TObject*) {
        Done(name);
        Next();
      };
    };
    session_.OnDirectoryChanged = simple("OnDirectoryChanged");
    session_.OnDirectoryCreated = simple("OnDirectoryCreated");
    session_.OnDirectoryDeleted = simple("OnDirectoryDeleted");
    session_.OnFileDeleted = simple("OnFileDeleted");
    session_.OnFileRenamed = simple("OnFileRenamed");
    session_.OnFileReceived = [this](TObject*) { TransferDone("OnFileReceived"); };
    session_.OnFileStored = [this](TObject*) { TransferDone("OnFileStored"); };
    session_.OnListingDone = [this](TObject*) {
      Done("OnListingDone");
      Print(true, "cwd " + Escape(session_.InitialDirectory));
      for (const auto& name : session_.DirectoryNames) Print(true, "dir " + Escape(name));
      for (const auto& name : session_.FileNames) Print(true, "file " + Escape(name));
      Next();
    };
    PutWalkFirst(session_, folder_);
  }

  int Run() {
    auto& loop = platform::MessageLoop::Current();
    session_.Connect();
    // Refused before any connection attempt: no notification will follow.
    const FtpError error = ftp_ ? ftp_->LastError : sftp_->LastError;
    if (error == ftpeNoServer || error == ftpeWinsockNotInitialized) return 1;
    while (!quitSeen_) loop.RunUntil([this] { return quitSeen_; }, 1000);
    if (interrupted_ == 0) loop.DispatchPending();  // a second quit notification follows a network error
    std::fflush(stdout);
    // As a shell reports a program that a signal ended.
    if (interrupted_ != 0) return 128 + interrupted_;
    return failed_ || !allDone_ ? 1 : 0;
  }

 private:
  // What both components have beside the session surface: the socket's settings and the
  // information, request and error events.
  template <typename Component>
  void Bind(Component& component) {
    component.SetFtpServer(options_.host);
    component.FtpPort = options_.port;
    component.TimeOutConnect = options_.timeoutConnect;
    component.TimeOutArp = options_.timeoutArp;
    component.AddressFamily = options_.family;
    component.OnFtpInfo = [this](TObject*, FtpInfo info, const std::string& addinfo) { OnInfo(info, addinfo); };
    component.OnFtpError = WalkFirst(folder_, TFtpErrorEvent([this](TObject*, FtpError error, std::string addinfo) {
      failed_ = true;
      std::string line = std::string("error ") + SessionErrorName(error);
      if (const std::optional<std::string> message =
              talvo::texts::ErrorMessage(error, addinfo, talvo::texts::LocalContextOf(session_))) {
        line += ' ';
        line += Escape(*message);
      }
      Print(true, line);
    }));
    component.OnFtpNeedInfo = [this](TObject*, TFtpInfoNeeded need, std::string& value) { OnNeed(need, value); };
  }

  void Print(bool essential, const std::string& line) {
    if (options_.quiet && !essential) return;
    if (stdoutIsTerminal_) progress_.Clear();  // not to write over the progress line
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }

  void OnInfo(FtpInfo info, const std::string& addinfo) {
    if (info == ftpiProgress && abortAt_ >= 0 && session_.BytesTransferred >= abortAt_) {
      abortAt_ = -1;
      stopping_ = true;
      session_.Abort();
    }
    // A file's data moving (a listing's progress carries its line): from now on its
    // counters are this file's.
    if (info == ftpiProgress && addinfo.empty()) fileMoving_ = true;
    Warn(info, addinfo);
    if (info == ftpiReceived) lastReply_ = addinfo;
    if (info == ftpiCommandFailed) Refused();
    if (!options_.quiet) Print(false, std::string("info ") + SessionInfoName(info) + " " + Escape(addinfo));
  }

  // What weakens the session's protection or puts local data at risk is said on the error
  // output, even with --quiet: a session in clear, an expired certificate taken, a server
  // that could not be remembered, a file written in place, a file that changed as it was sent.
  void Warn(FtpInfo info, const std::string& addinfo) {
    std::string line;
    if (info == ftpiTlsRefused) {
      line = talvo::texts::TlsRefusedLine(addinfo);
    } else if (info == ftpiCertificateExpired) {
      line = talvo::texts::CertificateExpiredLine();
    } else if (info == ftpiServerNotRemembered) {
      line = talvo::texts::ServerNotRememberedLine(addinfo);
    } else if (info == ftpiLocalFileInPlace) {
      line = talvo::texts::InPlaceLine(addinfo);
    } else if (info == ftpiLocalFileChanged) {
      line = talvo::texts::ChangedWhileSentLine(addinfo);
    } else if (static_cast<int>(info) == sftpiHostKeyAdded || static_cast<int>(info) == sftpiNotRemembered) {
      line = talvo::texts::SshInfoLine(info, addinfo);
    } else {
      return;
    }
    progress_.Clear();
    std::fprintf(stderr, "talvoftp-cli: %s\n", Escape(line).c_str());
  }

  // Why a command failed, on the error output even with --quiet: the server's reply, or
  // that its argument could not be sent (nothing came since the last command ended). SFTP
  // has no reply lines: its refusals say only that the server refused.
  void Refused() {
    std::string reply = lastReply_;
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
    progress_.Clear();
    if (sftp_) {
      std::fprintf(stderr, "talvoftp-cli: refused by the server\n");
    } else if (reply.empty()) {
      std::fprintf(stderr, "talvoftp-cli: refused: the name holds a line break or a zero byte and cannot be sent\n");
    } else {
      std::fprintf(stderr, "talvoftp-cli: refused by the server: %s\n", Escape(reply).c_str());
    }
  }

  // Only a fingerprint given on the command line makes an unverified certificate trusted.
  void OnCertificate(const TFtpCertificateQuestion& question, bool& trust) {
    Print(true, "certificate " + question.Fingerprint);
    trust = AnswerCertificate(question, options_.trustFingerprint);
  }

  // Only a key's fingerprint given on the command line makes an unknown server key trusted.
  void OnHostKey(const TSftpHostKeyQuestion& question, bool& trust) {
    Print(true, "hostkey " + question.KeyType + " " + question.Fingerprint);
    trust = !options_.trustHostKey.empty() && options_.trustHostKey == question.Fingerprint;
    if (!trust) {
      progress_.Clear();
      std::fprintf(stderr, "talvoftp-cli: the server's key %s %s is not known; trust it with --trust-host-key %s\n",
                   question.KeyType.c_str(), question.Fingerprint.c_str(), question.Fingerprint.c_str());
    }
  }

  void OnNeed(TFtpInfoNeeded need, std::string& value) {
    Print(false, std::string("need ") + SessionInfoNeededName(need));
    switch (static_cast<int>(need)) {
      case ftpnServer: value = options_.host; break;
      case ftpnUserName: value = options_.user; break;
      case ftpnPassword: value = options_.passwordGiven ? options_.password : AskPassword(); break;
      case ftpnAccount: value = options_.account; break;
      default: value.clear(); break;  // a key's passphrase: the key is left out
    }
  }

  // Nothing gave a password and the server wants one: asked on the terminal, if there is
  // one, without echo.
  std::string AskPassword() {
    progress_.Clear();
    std::fflush(stdout);
    return ReadTerminalPassword(0, PasswordPrompt(session_.UserName, options_.host)).value_or("");
  }

  void Done(const char* event) {
    if (!session_.Success) failed_ = true;
    Print(true, std::string("done ") + event + " " + (session_.Success ? "1" : "0"));
  }

  void TransferDone(const char* event) {
    fileMoving_ = false;
    progress_.Stop();
    if (session_.Success) {
      const std::int64_t bytes = session_.ResumedFrom + session_.BytesTransferred;
      progress_.Finish(FinishedText(bytes, session_.BytesTransferred, MillisecondsSinceStart()));
    } else {
      progress_.Clear();
    }
    Done(event);
    Print(true, "bytes " + std::to_string(session_.BytesTransferred) + " ms " + std::to_string(session_.TransferTime));
    if (stopping_ && !session_.Success) {
      const bool download = std::string(event) == "OnFileReceived";
      const long long kept = session_.ResumedFrom + session_.BytesTransferred;
      Print(true, "stopped " + Escape(talvo::texts::StoppedTransferLine(download, kept,
                                                                          talvo::texts::LocalContextOf(session_))));
    }
    stopping_ = false;
    Next();
  }

  // Starts the next command, or quits when none is left (or the tool was interrupted).
  void Next() {
    if (interrupted_ != 0) next_ = options_.commands.size();
    while (next_ < options_.commands.size()) {
      const TCliCommand& c = options_.commands[next_++];
      if (c.verb == "abort-at") {
        abortAt_ = std::stoll(c.args[0]);
        continue;
      }
      if (c.verb == "ls") {
        session_.GetListing();
      } else if (c.verb == "cd") {
        session_.ChangeDirectory(c.args[0]);
      } else if (c.verb == "mkdir") {
        session_.CreateDirectory(c.args[0]);
      } else if (c.verb == "rmdir") {
        session_.DeleteDirectory(c.args[0]);
      } else if (c.verb == "rm") {
        session_.DeleteFile(c.args[0]);
      } else if (c.verb == "rename" || c.verb == "mv") {
        session_.RenameFile(c.args[0], c.args[1]);
      } else if (c.recursive) {
        StartFolder(c);
      } else if (c.verb == "get") {
        session_.RemoteFile = c.args[0];
        session_.LocalFile = c.args[1];
        StartProgress();
        session_.ReceiveFile();
      } else if (c.verb == "put") {
        session_.LocalFile = c.args[0];
        session_.RemoteFile = c.args[1];
        StartProgress();
        session_.StoreFile();
      }
      return;
    }
    allDone_ = true;
    session_.Quit();
  }

  // get -r and put -r: the folder's scan, then at once its transfer.
  void StartFolder(const TCliCommand& c) {
    const bool get = c.verb == "get";
    folder_.Start(get ? TFolderTransfer::Direction::Download : TFolderTransfer::Direction::Upload,
                  {{get ? c.args[0] : c.args[1], get ? c.args[1] : c.args[0]}});
  }

  void FolderScanned() {
    std::string counts = "folder files " + std::to_string(folder_.Files().size()) + " bytes " +
                         std::to_string(folder_.KnownBytes());
    if (folder_.UnknownSizes() > 0) counts += " unknown " + std::to_string(folder_.UnknownSizes());
    Print(true, counts);
    StartProgress();
    folder_.Go();
  }

  void FolderDone() {
    progress_.Stop();
    if (folder_.outcome() == TFolderTransfer::Outcome::Sent) {
      progress_.Finish("fichier " + std::to_string(folder_.FilesDone()) + "/" + std::to_string(folder_.Files().size()) +
                       ", " + FinishedText(folder_.BytesDone(), folder_.BytesDone(), MillisecondsSinceStart()));
    } else {
      progress_.Clear();
    }
    for (const TFolderTransfer::Skip& skip : folder_.Skipped()) {
      std::fprintf(stderr, "talvoftp-cli: not copied, %s: %s\n", SkipText(skip.Reason), Escape(skip.Path).c_str());
    }
    const std::string problem = Escape(folder_.Problem());
    switch (folder_.outcome()) {
      case TFolderTransfer::Outcome::TooDeep:
        std::fprintf(stderr, "talvoftp-cli: %s holds folders more than %d levels deep; nothing was copied\n",
                     problem.c_str(), TFolderTransfer::kMaxDepth);
        break;
      case TFolderTransfer::Outcome::FolderUnreadable:
        std::fprintf(stderr, "talvoftp-cli: the folder %s could not be read or entered\n", problem.c_str());
        break;
      case TFolderTransfer::Outcome::LocalFolderFailed:
        std::fprintf(stderr, "talvoftp-cli: the folder %s could not be made: %s\n", problem.c_str(),
                     talvo::texts::LocalErrorReason(folder_.ProblemError()).c_str());
        break;
      default:
        break;
    }
    const bool sent = folder_.outcome() == TFolderTransfer::Outcome::Sent && folder_.Skipped().empty();
    if (!sent) failed_ = true;
    Print(true, std::string("done folder ") + (sent ? "1" : "0") + " files " + std::to_string(folder_.FilesDone()) +
                    " bytes " + std::to_string(folder_.BytesDone()));
    if (folder_.outcome() != TFolderTransfer::Outcome::Abandoned) Next();
  }

  // The progress line of a transfer from now on, redrawn on its timer.
  void StartProgress() {
    transferStart_ = std::chrono::steady_clock::now();
    fileMoving_ = false;
    progress_.Start([this] { return ProgressNow(); });
  }

  std::int64_t MillisecondsSinceStart() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - transferStart_)
        .count();
  }

  // The running file's progress, and in a folder transfer the folder's. The counters of a
  // file are its own only once its data moves: until then they still hold the last file's.
  std::string ProgressNow() const {
    const std::int64_t file = fileMoving_ ? session_.ResumedFrom + session_.BytesTransferred : 0;
    const std::int64_t elapsed = MillisecondsSinceStart();
    if (folder_.phase() != TFolderTransfer::Phase::Transferring) {
      return ProgressText(file, session_.ExpectedSize, elapsed, fileMoving_ ? session_.ResumedFrom : 0);
    }
    return "fichier " + std::to_string(folder_.RunningFileNumber()) + "/" + std::to_string(folder_.Files().size()) +
           ", " + ProgressText(folder_.BytesDone() + file, folder_.KnownBytes(), elapsed);
  }

  // Ctrl-C or SIGTERM: a running transfer (or folder) stops the way the stop button stops
  // it, so that what it keeps is kept, and the session then quits; with nothing to stop
  // the tool ends at once.
  void Interrupted(int signal) {
    interrupted_ = signal;
    progress_.Stop();
    progress_.Clear();
    if (!session_.Connected || (!folder_.Running() && !TransferRunning())) {
      quitSeen_ = true;
      return;
    }
    stopping_ = true;
    folder_.Stop();
    if (TransferRunning()) session_.Abort();
  }

  static const char* SkipText(TFolderTransfer::SkipReason reason) {
    switch (reason) {
      case TFolderTransfer::SkipReason::Failed: return "its transfer failed";
      case TFolderTransfer::SkipReason::NameLeaves: return "its name would leave the local folder";
      case TFolderTransfer::SkipReason::LinkLeaves: return "a link that leads out of the folder";
      case TFolderTransfer::SkipReason::Loop: return "a folder that leads back to one that holds it";
      case TFolderTransfer::SkipReason::NotPlain: return "neither a plain file nor a folder";
    }
    return "";
  }

  // A listing or a transfer runs; over SFTP, any operation (the stop ends it at its next
  // step).
  bool TransferRunning() const { return ftp_ ? ftp_->TransferRunning() : sftp_->Busy; }

  static bool Sftp(const TCliOptions& options) { return options.protocol == TServerProtocol::Sftp; }

  const TCliOptions& options_;
  std::unique_ptr<TVelaFtp> ftp_;
  std::unique_ptr<TVelaSftp> sftp_;
  TFileSession& session_;
  TFolderTransfer folder_{session_};
  TProgressLine progress_{!options_.quiet && ::isatty(2) == 1};
  const bool stdoutIsTerminal_ = ::isatty(1) == 1;
  TInterruption interruption_{[this](int signal) { Interrupted(signal); }};
  int interrupted_ = 0;  // the signal that interrupted the tool
  std::chrono::steady_clock::time_point transferStart_;
  bool fileMoving_ = false;
  std::size_t next_ = 0;
  long long abortAt_ = -1;
  bool stopping_ = false;  // abort-at or an interruption stopped the running transfer
  bool failed_ = false;
  bool allDone_ = false;
  bool quitSeen_ = false;
  std::string lastReply_;  // the server's last reply since the last operation ended
};

}  // namespace

int RunSession(const TCliOptions& options) {
  TCliSession session(options);
  return session.Run();
}
