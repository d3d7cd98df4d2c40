// Surface of the component: construction, events and notifications, the two error paths,
// and the drive that runs the SSH work a bounded amount per pass of the loop.
#include "sftp/Sftp.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "sftp/SftpChannel.h"
#include "sftp/SftpListing.h"
#include "sftp/SftpTransfer.h"
#include "sftp/SshAuth.h"
#include "sftp/SshSession.h"

using namespace platform;

namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

}  // namespace

TVelaSftp::TVelaSftp() {
  FtpPort = 22;
  const std::string ssh = HomeFolder() + "/.ssh/";
  KnownHostsFile = ssh + "known_hosts";
  SshConfigFile = ssh + "config";
  if (const char* agent = std::getenv("SSH_AUTH_SOCK")) AgentSocket = agent;
  // Ed25519 and ECDSA first: libssh2 signs with RSA only the old SHA-1 way, which current
  // servers refuse.
  DefaultIdentityFiles = {ssh + "id_ed25519", ssh + "id_ecdsa", ssh + "id_rsa"};
  OnSockMessage = [this](TMessage& m) { HandleOwnMessage(m); };
  GuardWindow = MessageLoop::Current().CreateHiddenWindow([this](TMessage& m) {
    if (m.Msg != WM_TIMER) return;
    GuardTick();
  });
}

TVelaSftp::~TVelaSftp() {
  MessageLoop::Current().DestroyWindow(GuardWindow);
  ShuttingDown = true;
  Teardown();
  FreeRetired();
}

void TVelaSftp::Info(FtpInfo info, const std::string& addinfo) {
  if (OnFtpInfo) OnFtpInfo(this, info, addinfo);
}

void TVelaSftp::PostDone() { MessageLoop::Current().PostMessage(SockWindow, WM_SFTP_DONE, 0, 0); }

void TVelaSftp::PostQuit() { MessageLoop::Current().PostMessage(SockWindow, WM_SFTP_QUIT, 0, 0); }

void TVelaSftp::PostPass() {
  if (PassPosted) return;
  PassPosted = MessageLoop::Current().PostMessage(SockWindow, WM_SFTP_PASS, 0, 0);
}

void TVelaSftp::HandleOwnMessage(TMessage& Message) {
  switch (Message.Msg) {
    case WM_SFTP_PASS:
      PassPosted = false;
      Drive();
      break;
    case WM_SFTP_DONE:
      Busy = false;
      Raise(OnFtpReady);
      if (CurrentOperation != opNone) {
        const TCurrentOperation op = CurrentOperation;
        CurrentOperation = opNone;
        FireCompletion(op);
      }
      break;
    case WM_SFTP_QUIT:
      Busy = false;
      Raise(OnFtpQuit);
      break;
    default:
      break;
  }
}

// The operations are numbered as the session surface numbers them.
static_assert(TVelaSftp::opLogin == 1 && TVelaSftp::opGetListing == 8 && TVelaSftp::opRenameFile == 9);
void TVelaSftp::FireCompletion(TCurrentOperation op) { RaiseCompletion(op, this); }

// The owner is asked for a value; its prompt may run the loop for as long as the user
// takes, which the guard does not count. False when the session ended meanwhile.
bool TVelaSftp::Ask(TFtpInfoNeeded need, std::string& value) {
  const std::uint64_t serial = Serial;
  Asking = true;
  if (OnFtpNeedInfo) OnFtpNeedInfo(this, need, value);
  Asking = false;
  return serial == Serial && !ShuttingDown;
}

void TVelaSftp::ReportError(FtpError Code, const std::string& addinfo) {
  Success = false;
  LastError = Code;
  if (OnFtpError) OnFtpError(this, Code, addinfo);
}

// The session is over: everything is closed first, then the owner hears of it, then the
// quit notification follows.
void TVelaSftp::FatalError(FtpError Code, const std::string& addinfo) {
  if (ShuttingDown) return;
  const bool busy = Busy && CurrentOperation != opNone;
  Teardown();
  Success = false;
  LastError = Code;
  if (OnFtpError) OnFtpError(this, Code, addinfo);
  if (busy) PostDone();  // the operation that was running ends, failed
  PostQuit();
}

void TVelaSftp::Teardown() {
  ++Serial;
  MessageLoop::Current().KillTimer(GuardWindow, kGuardTimer);
  Work = nullptr;
  // Parts are freed in the order they lean on one another: the transfers on the channel,
  // the channel and the login on the session.
  Retire();
  if (Ssh) Ssh->Detach();
  SockClose();
  Connected = false;
  phase_ = Phase::Idle;
  if (!InDrive) FreeRetired();
}

// In the order they were retired: a transfer closes its handle through the channel, the
// channel through the session.
void TVelaSftp::FreeRetired() {
  for (std::shared_ptr<void>& part : Retired) part.reset();
  Retired.clear();
}

void TVelaSftp::Retire() {
  if (Listing) Retired.emplace_back(std::move(Listing));
  if (Transfer) Retired.emplace_back(std::move(Transfer));
  LocalFileHandle.Forget();
  if (Channel) Retired.emplace_back(std::move(Channel));
  if (Auth) Retired.emplace_back(std::move(Auth));
  if (Ssh) Retired.emplace_back(std::move(Ssh));
}

// --- The drive ---

// Runs the work until it waits for the socket, a bounded number of steps per pass; work
// left over continues on a pass posted to the loop, so that other events get their turn.
void TVelaSftp::Drive() {
  if (InDrive) {
    DriveWanted = true;  // an event inside a handler of ours: looked at once it returns
    return;
  }
  InDrive = true;
  const std::uint64_t serial = Serial;
  TSshStatus status = TSshStatus::Progress;
  for (int step = 0; step < kStepsPerPass && status == TSshStatus::Progress && serial == Serial; ++step) {
    DriveWanted = false;
    status = StepOnce();
  }
  InDrive = false;
  if (serial != Serial) {
    FreeRetired();
    return;
  }
  if (status == TSshStatus::Progress || DriveWanted) PostPass();
}

TSshStatus TVelaSftp::StepOnce() {
  switch (phase_) {
    case Phase::Handshake:
      return HandshakeStep();
    case Phase::Login:
      return LoginStep();
    case Phase::OpenSftp:
      return OpenSftpStep();
    case Phase::Quitting:
      return QuitStep();
    case Phase::Ready:
      break;
    case Phase::Idle:
    case Phase::Connecting:
      return TSshStatus::Again;
  }
  // What a stopped transfer left is done first.
  if (!Channel->Tidy()) {
    const TSshStatus tidy = Channel->TidyStep();
    if (tidy == TSshStatus::Failed) {
      FatalError(ftpeConnectionLost);
      return TSshStatus::Failed;
    }
    if (tidy != TSshStatus::Done) return tidy;
  }
  if (Work == nullptr) {
    // Nothing to do until the next operation but to take in what the server sends.
    const TSshStatus idle = Channel->Idle();
    if (idle == TSshStatus::Failed) FatalError(ftpeConnectionLost);
    return idle;
  }
  const TSshStatus status = (this->*Work)();
  if (status == TSshStatus::Done || status == TSshStatus::Failed) {
    Work = nullptr;
    return TSshStatus::Progress;  // the tidying a failure left, if any
  }
  return status;
}

void TVelaSftp::SocketRead(TObject*) { Drive(); }

// The server closed: what it sent before is still read, then the session ends.
void TVelaSftp::SocketClosed(TObject*) {
  if (SockError != 0) {
    FatalError(phase_ == Phase::Handshake ? AsFtpError(sftpeHandshake) : FtpErrorFromSocketError(SockError),
               phase_ == Phase::Handshake ? "closed" : "Error");
    return;
  }
  PeerClosed = true;
  if (Ssh) Ssh->SetPeerClosed();
  Drive();
  if (phase_ == Phase::Idle || ShuttingDown) return;
  if (phase_ == Phase::Quitting) {
    EndQuit();
    return;
  }
  if (phase_ == Phase::Handshake) {
    FatalError(AsFtpError(sftpeHandshake), "closed");
    return;
  }
  // The server ended the session: as the FTP component does when the control connection
  // closes, an operation cut short fails, then the quit notification follows.
  const bool busy = Busy && CurrentOperation != opNone;
  Teardown();
  Info(ftpiDisconnected, "Disconnected");
  if (busy) {
    Success = false;
    PostDone();
  }
  PostQuit();
}

// Once a second: the bounded waits, and a pass of the drive in case a wake-up was missed.
void TVelaSftp::GuardTick() {
  if (phase_ == Phase::Idle || phase_ == Phase::Connecting || Asking) return;
  const std::uint64_t received = Ssh ? Ssh->Received() : 0;
  const bool waiting = phase_ != Phase::Ready || Work != nullptr || !Channel->Tidy();
  StallSeconds = (received != LastReceived || !waiting) ? 0 : StallSeconds + 1;
  LastReceived = received;
  if (phase_ == Phase::Handshake || phase_ == Phase::Login || phase_ == Phase::OpenSftp) {
    if (++HandshakeSeconds >= GuardTimes.Handshake) {
      // A peer that answered with something else than SSH's banner is no SSH server.
      const std::string banner = Ssh ? Ssh->ServerBanner() : std::string();
      FatalError(phase_ == Phase::Handshake ? AsFtpError(sftpeHandshake) : ftpeTimeout,
                 phase_ != Phase::Handshake                        ? "Error"
                 : !banner.empty() && banner.rfind("SSH-", 0) != 0 ? "banner"
                                                                   : "timeout");
      return;
    }
  } else if (phase_ == Phase::Quitting) {
    if (++HandshakeSeconds >= GuardTimes.Quit) {
      EndQuit();
      return;
    }
  } else if (StallSeconds >= GuardTimes.Stall) {
    FatalError(ftpeTimeout);
    return;
  }
  if (waiting) Drive();
}
