// Connection: the configuration for the server typed, the lookup and connect (the socket's,
// as FTP's), the SSH handshake, the server's key against the known hosts, the login, the
// SFTP subsystem and the folder to start in; and the quit.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/WinsockErrors.h"
#include "sftp/KnownHosts.h"
#include "sftp/Sftp.h"
#include "sftp/SftpChannel.h"
#include "sftp/SshAuth.h"
#include "sftp/SshConfig.h"
#include "sftp/SshSession.h"

using namespace platform;

namespace {

std::string LocalUserName() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : "";
}

std::string HomeOf(const std::string& sshFile) {
  const std::size_t slash = sshFile.rfind("/.ssh/");
  return slash == std::string::npos ? std::string() : sshFile.substr(0, slash);
}

}  // namespace

void TVelaSftp::Connect() {
  if (Busy || phase_ != Phase::Idle) {
    Info(ftpiBusy, "");
    return;
  }
  LastError = ftpeNone;
  Success = true;
  ShuttingDown = false;
  PeerClosed = false;
  if (!InitWinsock()) {
    ReportError(ftpeWinsockNotInitialized);
    return;
  }
  if (FtpServer.empty()) {
    std::string server;
    if (OnFtpNeedInfo) OnFtpNeedInfo(this, ftpnServer, server);
    if (server.empty()) {
      ReportError(ftpeNoServer);
      return;
    }
    SetFtpServer(server);
  }
  if (FtpPort == 0) FtpPort = 22;
  ReadConfiguration();
  OnSockTimeOut = [this](TObject* s) { SocketTimeOut(s); };
  OnSockConnect = [this](TObject* s) { SocketConnected(s); };
  OnSockRead = [this](TObject* s) { SocketRead(s); };
  OnSockWrite = [this](TObject* s) { SocketRead(s); };
  OnSockClose = [this](TObject* s) { SocketClosed(s); };
  phase_ = Phase::Connecting;
  if (ServerAddress.empty()) {
    Info(ftpiResolvingHost, ServerHostName);
    SockResolve(ServerHostName);
  } else {
    SockConnectTo(ServerAddress, FtpPort);
  }
  if (SockError != 0) FatalError(FtpErrorFromSocketError(SockError));
}

// The user's SSH configuration for the name typed: the real name, the port unless the
// owner set one other than SSH's own, the user unless one was given, the keys.
void TVelaSftp::ReadConfiguration() {
  HostAlias = FtpServer;
  const std::string home = HomeOf(SshConfigFile);
  const TSshHostConfig config = SshConfigFile.empty()
                                    ? TSshHostConfig{FtpServer, 0, {}, {}}
                                    : ReadSshConfigFile(SshConfigFile, FtpServer, home, LocalUserName());
  HostName = config.HostName;
  if (HostName != FtpServer) {
    const std::string alias = FtpServer;
    SetFtpServer(HostName);
    FtpServer = alias;  // the owner's value stays as typed
  }
  if (config.Port != 0 && FtpPort == 22) FtpPort = config.Port;
  if (UserName.empty()) UserName = config.User;
  IdentityFiles = config.IdentityFiles.empty() ? DefaultIdentityFiles : config.IdentityFiles;
  EnterAfterLogin = InitialDirectory;
}

void TVelaSftp::DoResolved() {
  if (SockError != 0) {
    FatalError(FtpErrorFromSocketError(SockError));
    return;
  }
  SockUseResolved();
  SockSetPort(FtpPort);
  ServerAddress = SockAddressText();
  Info(ftpiHostResolved, ServerAddress);
  SockConnectResolved();
  if (SockError != 0) FatalError(FtpErrorFromSocketError(SockError));
}

void TVelaSftp::SocketTimeOut(TObject*) { FatalError(ftpeTimeout); }

void TVelaSftp::SocketConnected(TObject*) {
  if (SockError != 0) {
    FatalError(FtpErrorFromSocketError(SockError));
    return;
  }
  ServerAddress = SockAddressText();
  Info(ftpiConnected, ServerAddress);
  Connected = true;
  Ssh = std::make_unique<TSshSession>(*this);
  if (!Ssh->Valid()) {
    FatalError(ftpeInternalError);
    return;
  }
  // The key types known for this server are offered first, so that it shows the known key.
  std::vector<std::string> files;
  if (!KnownHostsFile.empty()) files.push_back(KnownHostsFile);
  Ssh->PreferHostKeyTypes(TKnownHosts(files).KnownTypes(HostName, FtpPort));
  phase_ = Phase::Handshake;
  HandshakeSeconds = StallSeconds = 0;
  LastReceived = 0;
  MessageLoop::Current().SetTimer(GuardWindow, kGuardTimer, 1000);
  Drive();
}

TSshStatus TVelaSftp::HandshakeStep() {
  const TSshStatus status = Ssh->Handshake();
  if (status == TSshStatus::Again) return status;
  ServerBanner = Ssh->ServerBanner();
  if (!ServerBanner.empty()) Info(ftpiReceived, ServerBanner);
  if (status == TSshStatus::Failed) {
    // A server that does not speak SSH, or one that went away during the key exchange.
    const bool ssh = ServerBanner.rfind("SSH-", 0) == 0;
    FatalError(AsFtpError(sftpeHandshake), !ssh ? "banner" : PeerClosed ? "closed" : "kex");
    return TSshStatus::Failed;
  }
  if (!AcceptHostKey()) return TSshStatus::Failed;
  std::string password = UserPassword;
  if (UserName.empty()) {
    if (!Ask(ftpnUserName, UserName)) return TSshStatus::Failed;
    if (UserName.empty()) UserName = LocalUserName();
  }
  Auth = std::make_unique<TSshAuth>(Ssh->Handle(), UserName, AgentSocket, IdentityFiles, UserPassword,
                                    [this](bool passphrase, const std::string& key, std::string& value) {
                                      value = key;  // the key's path, for the prompt; the answer replaces it
                                      const bool asked =
                                          Ask(passphrase ? AsInfoNeeded(sftpnPassphrase) : ftpnPassword, value);
                                      if (passphrase && value == key) value.clear();
                                      return asked;
                                    });
  phase_ = Phase::Login;
  return TSshStatus::Progress;
}

// The server's key against the known hosts; false when the session ended (refused, or
// ended by the owner while asked).
bool TVelaSftp::AcceptHostKey() {
  HostKeyType = Ssh->HostKeyType();
  const std::string blob = Ssh->HostKeyBlob();
  HostKeyFingerprint = SshFingerprint(blob);
  const std::uint64_t serial = Serial;
  Info(sftpiHostKey, HostKeyType + " " + HostKeyFingerprint);
  if (serial != Serial) return false;
  std::vector<std::string> files;
  if (!KnownHostsFile.empty()) files.push_back(KnownHostsFile);
  const TKnownHosts known(files);
  const TKnownHosts::Result result = known.Check(HostName, FtpPort, HostKeyType, blob);
  switch (result.verdict) {
    case TKnownHosts::Verdict::Known:
      return true;
    case TKnownHosts::Verdict::Changed:
      FatalError(AsFtpError(sftpeHostKeyChanged), result.file + ":" + std::to_string(result.line));
      return false;
    case TKnownHosts::Verdict::Unreadable:
      FatalError(AsFtpError(sftpeKnownHostsUnreadable), result.file);
      return false;
    case TKnownHosts::Verdict::Unknown:
      break;
  }
  TSftpHostKeyQuestion question{HostName, FtpPort, HostKeyType, HostKeyFingerprint, KnownHostsFile};
  bool trust = false;
  Asking = true;
  if (OnSftpHostKey) OnSftpHostKey(this, question, trust);
  Asking = false;
  if (serial != Serial || ShuttingDown) return false;
  if (!trust) {
    FatalError(AsFtpError(sftpeHostKeyUnknown), HostKeyFingerprint);
    return false;
  }
  if (known.Add(HostName, FtpPort, HostKeyType, blob)) {
    Info(sftpiHostKeyAdded, KnownHostsFile);
  } else {
    Info(sftpiNotRemembered, KnownHostsFile);
  }
  return serial == Serial;
}

TSshStatus TVelaSftp::LoginStep() {
  const TSshStatus status = Auth->Step();
  if (status == TSshStatus::Again || status == TSshStatus::Progress) return status;
  if (Auth->Abandoned()) return TSshStatus::Failed;
  if (status == TSshStatus::Failed) {
    const int error = Ssh->LastErrorCode();
    if (PeerClosed || error == LIBSSH2_ERROR_SOCKET_RECV || error == LIBSSH2_ERROR_SOCKET_SEND ||
        error == LIBSSH2_ERROR_SOCKET_DISCONNECT) {
      FatalError(ftpeConnectionLost);
      return TSshStatus::Failed;
    }
    // Refused: said once with the ways tried, then the goodbye.
    const std::string tried = Auth->Tried();
    const std::uint64_t serial = Serial;
    ReportError(AsFtpError(sftpeLoginRefused), tried);
    if (serial != Serial) return TSshStatus::Failed;
    Auth.reset();
    phase_ = Phase::Quitting;
    HandshakeSeconds = 0;
    return TSshStatus::Progress;
  }
  Info(sftpiLoggedInWith, Auth->Accepted());
  Auth.reset();
  Channel = std::make_unique<TSftpChannel>(Ssh->Handle());
  phase_ = Phase::OpenSftp;
  OpenStage = 0;
  return TSshStatus::Progress;
}

TSshStatus TVelaSftp::OpenSftpStep() {
  if (OpenStage == 0) {
    const TSshStatus status = Channel->Open();
    if (status == TSshStatus::Again) return status;
    if (status == TSshStatus::Failed) {
      FatalError(PeerClosed ? ftpeConnectionLost : AsFtpError(sftpeNoSftp));
      return TSshStatus::Failed;
    }
    OpenStage = 1;
    Argument.assign(1, '.');  // the home folder (an assignment of "." trips GCC 12 at -O3)
    ChangeStage = 0;
  }
  const TSshStatus status = ResolveFolder();
  if (status == TSshStatus::Again || status == TSshStatus::Progress) return status;
  if (!Connected) return TSshStatus::Failed;
  if (OpenStage == 1) {
    // The home folder, where the server starts the session: a server that cannot say
    // where that is makes no sense.
    if (status != TSshStatus::Done) {
      FatalError(AsFtpError(sftpeProtocol), "home");
      return TSshStatus::Failed;
    }
    InitialDirectory = Resolved;
    if (EnterAfterLogin.empty()) {
      EndLogin();
      return TSshStatus::Progress;
    }
    OpenStage = 2;
    Argument = RemotePath(Resolved, EnterAfterLogin);
    ChangeStage = 0;
    return TSshStatus::Progress;
  }
  // The folder asked for before the login: refused, the session stays in its home, as the
  // FTP component does.
  if (status == TSshStatus::Done) {
    InitialDirectory = Resolved;
  } else {
    Info(ftpiCommandFailed, "");
  }
  EndLogin();
  return TSshStatus::Progress;
}

void TVelaSftp::EndLogin() {
  phase_ = Phase::Ready;
  Info(ftpiLoggedIn, "Logged in");
  CurrentOperation = opLogin;
  PostDone();
}

void TVelaSftp::Quit() {
  if (!AcceptCommand()) return;
  LastError = ftpeNone;
  Busy = true;
  phase_ = Phase::Quitting;
  HandshakeSeconds = 0;
  Drive();
}

// The subsystem's channel closed, then SSH's goodbye, each as far as the server lets it go
// within the quit's time; then the socket.
TSshStatus TVelaSftp::QuitStep() {
  if (Channel) {
    if (Channel->Shutdown() == TSshStatus::Again) return TSshStatus::Again;
    Channel.reset();
  }
  if (Ssh) {
    const int rc = libssh2_session_disconnect_ex(Ssh->Handle(), SSH_DISCONNECT_BY_APPLICATION, "Bye", "");
    if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  }
  EndQuit();
  return TSshStatus::Failed;
}

void TVelaSftp::EndQuit() {
  Teardown();
  Info(ftpiDisconnected, "Disconnected");
  PostQuit();
}
