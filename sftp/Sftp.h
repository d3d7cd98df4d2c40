// TVelaSftp: the SFTP client component, the session surface (FileSession.h) over SSH. Its
// own socket (the base TVelaSocket) carries the SSH session: the name is looked up and the
// address connected to as the FTP component does (both families, each address within the
// connect time limit), then libssh2 speaks SSH over it without ever blocking, driven by the
// socket's read and write events and by passes the component posts to itself.
//
// It offers the operations, properties and events of the FTP component, so that the
// window, the console tool and the folder walk drive either the same way: every operation
// returns at once and ends with its completion event, posted (1028) to the component's
// own window; the end of the connection is the quit notification (1026). Where FTP's codes
// do not fit it has its own (SftpTypes.h).
//
// Before anything but the key exchange is sent, the server's key is checked against the
// user's known hosts (KnownHosts.h): a changed key is refused, an unknown one asked about.
// The user's SSH configuration gives the host's real name, port, user and keys
// (SshConfig.h); the login tries the ways the user's SSH tools try (SshAuth.h). The server
// has no current folder of its own over SFTP: the component keeps it (InitialDirectory) and
// sends absolute paths.
//
// Inner parts, a file pair each: the libssh2 session over the socket (SshSession), the
// known hosts, the configuration, the login, the SFTP channel and its background work
// (SftpChannel), the listing, the download and the upload (SftpTransfer). The component itself is spread
// over Sftp.cpp (surface, notifications, the drive), SftpConnect.cpp (connection, key,
// login, quit) and SftpCommands.cpp (the operations).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/FileSession.h"
#include "session/LocalFile.h"
#include "sftp/SftpTypes.h"
#include "sftp/SshStatus.h"
#include "transport/velasock.h"

class TSshSession;
class TSshAuth;
class TSftpChannel;
class TSftpListing;
class TSftpTransfer;

class TVelaSftp : public TVelaSocket, public TFileSession {
 public:
  static constexpr platform::UINT WM_SFTP_QUIT = 1026;
  static constexpr platform::UINT WM_SFTP_DONE = 1028;
  static constexpr platform::UINT WM_SFTP_PASS = 1030;  // the next pass of the running work
  // Steps of the running work in one pass of the loop (each moves a bounded amount).
  static constexpr int kStepsPerPass = 8;
  // The guard's timer: once a second, the bounded waits.
  static constexpr std::uintptr_t kGuardTimer = 1;

  enum TCurrentOperation : std::uint8_t {
    opNone = 0,
    opLogin = 1,
    opChangeDirectory = 2,
    opCreateDirectory = 3,
    opDeleteDirectory = 4,
    opDeleteFile = 5,
    opReceiveFile = 6,
    opStoreFile = 7,
    opGetListing = 8,
    opRenameFile = 9,
  };

  TVelaSftp();
  ~TVelaSftp() override;

  // Operations: each returns at once and ends with its completion event.
  void Connect() override;
  void Quit() override;
  void ChangeDirectory(const std::string& Directory) override;
  void CreateDirectory(const std::string& Directory) override;
  void DeleteDirectory(const std::string& Directory) override;
  void DeleteFile(const std::string& FileName) override;
  void RenameFile(const std::string& OldName, const std::string& NewName) override;
  void GetListing() override;
  void ReceiveFile() override;
  void StoreFile() override;
  void Abort() override;

  // Published properties besides the socket's (FtpServer, FtpPort, the time limits) and the
  // session's. Where the user's SSH tools keep their files; empty: none. The defaults are
  // those of the user running the program ($HOME/.ssh, $SSH_AUTH_SOCK).
  std::string KnownHostsFile;
  std::string SshConfigFile;
  std::string AgentSocket;
  // Key files tried when the configuration names none for the host.
  std::vector<std::string> DefaultIdentityFiles;
  TFtpInfoEvent OnFtpInfo;
  TFtpInfoNeededEvent OnFtpNeedInfo;
  TFtpErrorEvent OnFtpError;
  // Asked when the server's key is not known; without a handler it is refused.
  TSftpHostKeyEvent OnSftpHostKey;

  // Read-only state.
  FtpError LastError = ftpeNone;
  TCurrentOperation CurrentOperation = opNone;
  std::string ServerBanner;  // the server's "SSH-2.0-..." line
  std::string HostKeyType;   // "ssh-ed25519", ...
  std::string HostKeyFingerprint;

  // Bounded waits, in seconds. Tests may shorten them.
  struct TGuardTimes {
    int Handshake = 30;  // from the connect to the end of the login, the owner's prompts not counted
    int Stall = 60;      // a request, listing or transfer during which nothing comes
    int Quit = 10;       // the goodbye to the server
  };
  TGuardTimes GuardTimes;

 private:
  enum class Phase : std::uint8_t { Idle, Connecting, Handshake, Login, OpenSftp, Ready, Quitting };
  // The running operation's step (a member, so that nothing it holds goes while it runs).
  using TWork = TSshStatus (TVelaSftp::*)();

  // Notifications and events (Sftp.cpp).
  void Info(FtpInfo info, const std::string& addinfo);
  void Info(SftpInfo info, const std::string& addinfo) { Info(AsFtpInfo(info), addinfo); }
  void HandleOwnMessage(platform::TMessage& Message);
  void FireCompletion(TCurrentOperation op);
  void Raise(const TNotifyEvent& event) {
    if (event) event(this);
  }
  void PostDone();
  void PostQuit();
  void PostPass();
  bool Ask(TFtpInfoNeeded need, std::string& value);
  void ReportError(FtpError Code, const std::string& addinfo = "Error");
  void FatalError(FtpError Code, const std::string& addinfo = "Error");
  void Teardown();
  void FreeRetired();

  // The drive: the running work, a pass at a time (Sftp.cpp).
  void Drive();
  TSshStatus StepOnce();
  void SocketRead(TObject* Sender);
  void SocketClosed(TObject* Sender);
  void GuardTick();

  // Connection, key, login, quit (SftpConnect.cpp).
  void ReadConfiguration();
  void DoResolved() override;
  void SocketConnected(TObject* Sender);
  void SocketTimeOut(TObject* Sender);
  TSshStatus HandshakeStep();
  bool AcceptHostKey();
  TSshStatus LoginStep();
  TSshStatus OpenSftpStep();
  TSshStatus QuitStep();
  void EndQuit();
  void EndLogin();
  // Resolves Argument to an absolute path (REALPATH) and checks that it is a folder (STAT):
  // Done with Resolved set, Failed when refused or broken (already reported).
  TSshStatus ResolveFolder();

  // Operations (SftpCommands.cpp).
  bool AcceptCommand();
  void Begin(TCurrentOperation op, TWork work, std::string argument = {}, std::string second = {});
  void Retire();
  void EndOperation(bool success);
  TSshStatus Refused(int rc);
  TSshStatus SimpleStep();
  TSshStatus ChangeDirectoryStep();
  TSshStatus ListingStep();
  bool LocalFileReady(TCurrentOperation op);
  void StartTransfer(std::unique_ptr<TSftpTransfer> transfer, TCurrentOperation op);
  TSshStatus TransferStep();
  std::string RemotePathOf(const std::string& name) const;

  Phase phase_ = Phase::Idle;
  std::unique_ptr<TSshSession> Ssh;
  std::unique_ptr<TSshAuth> Auth;
  std::unique_ptr<TSftpChannel> Channel;
  std::unique_ptr<TSftpListing> Listing;
  std::unique_ptr<TSftpTransfer> Transfer;  // the running receive or store
  TLocalFile LocalFileHandle;
  TWork Work = nullptr;                  // the running operation's step, until it ends
  std::string Argument, SecondArgument;  // the running operation's paths
  int ChangeStage = 0;                   // ResolveFolder: 0 resolve the path, 1 check it is a folder
  int OpenStage = 0;                     // OpenSftp: 0 the subsystem, 1 the home folder, 2 the folder to enter
  std::string Resolved;
  // Parts a teardown took away while one of them may still be running: freed once the
  // drive is out of them.
  std::vector<std::shared_ptr<void>> Retired;

  // What the configuration made of the server typed.
  std::string HostAlias;  // as typed (known hosts and the question use the real name)
  std::string HostName;
  std::vector<std::string> IdentityFiles;
  std::string EnterAfterLogin;

  bool InDrive = false;
  bool DriveWanted = false;  // an event came while the drive ran: another pass is due
  bool PassPosted = false;
  bool AbortRequested = false;
  bool PeerClosed = false;
  bool Asking = false;  // the owner is being asked something: the guard waits
  bool ShuttingDown = false;
  std::uint64_t Serial = 0;  // bumped at every teardown, so that pumped handlers know to stop
  platform::HWND GuardWindow = 0;
  int HandshakeSeconds = 0;
  int StallSeconds = 0;
  std::uint64_t LastReceived = 0;
  std::uint32_t BeginTick = 0;
};
