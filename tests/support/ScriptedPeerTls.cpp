// The scripted peer's TLS: the server side of the control connection's and the data
// connections' sessions, all from one context so that a data connection can resume the
// control connection's session.
#include <poll.h>
#include <sys/socket.h>

#include "tests/support/ScriptedPeer.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {

// Made when the script is built, so that the test can read the fingerprint before Start.
void ScriptedPeer::NeedCertificate() {
  if (!certificate_.certificateFile.empty() || started_) return;
  tlsFiles_ = std::make_unique<TempTree>("peer-tls");
  if (!MakeTestCertificate(*tlsFiles_, "peer", "localhost", certificate_)) {
    std::lock_guard lock(mutex_);
    if (failure_.empty()) failure_ = "cannot set up the peer: " + certificate_.error;
  }
}

TlsServerSession* ScriptedPeer::TlsOf(const UniqueFd& fd) const {
  if (&fd == &control_) return controlTls_.get();
  if (&fd == &data_) return dataTls_.get();
  return nullptr;
}

bool ScriptedPeer::TlsFailure(TlsIo outcome, const std::string& error, const std::string& doing) {
  switch (outcome) {
    case TlsIo::TimedOut: return Fail("timed out " + doing);
    case TlsIo::Stopped: return Fail("peer stopped before the script ended");
    case TlsIo::Closed: return Fail("the client closed the connection " + doing);
    case TlsIo::Reset: return Fail("the client reset the connection " + doing);
    case TlsIo::Failed:
    case TlsIo::Done: break;
  }
  return Fail(doing + ": " + error);
}

bool ScriptedPeer::RunStartTls(bool data) {
  UniqueFd& fd = data ? data_ : control_;
  std::unique_ptr<TlsServerSession>& session = data ? dataTls_ : controlTls_;
  if (!tlsContext_) return Fail("no TLS context");
  if (!fd.Valid()) return Fail(std::string("no ") + (data ? "data" : "control") + " connection to start TLS on");
  if (session) return Fail("TLS is already on for this connection");
  // The handshake must come first: what the client sent after its command would be lost.
  if (!data && !controlPending_.empty()) {
    return Fail("the client sent " + std::to_string(controlPending_.size()) + " more bytes before its handshake");
  }
  auto tls = std::make_unique<TlsServerSession>();
  std::string error;
  TlsServerContext& context = data && dataTlsContext_ ? *dataTlsContext_ : *tlsContext_;
  const TlsIo outcome = tls->Accept(context, fd.Get(), Clock::now() + stepTimeout_, stopRead_.Get(), error);
  if (outcome != TlsIo::Done) return TlsFailure(outcome, error, "during the client's TLS handshake");
  {
    std::lock_guard lock(mutex_);
    tlsHandshakes_.push_back({data, tls->Version(), tls->ServerName(), tls->Resumed()});
  }
  session = std::move(tls);
  return true;
}

// Waits for the first bytes of the client's handshake and drops them; they are not
// commands, so they stay out of the record.
bool ScriptedPeer::AwaitClientHello() {
  if (!control_.Valid()) return Fail("no control connection");
  if (controlPending_.empty()) {
    switch (WaitFor(control_.Get(), POLLIN, stopRead_.Get(), Clock::now() + stepTimeout_)) {
      case WaitResult::Stopped: return Fail("peer stopped before the script ended");
      case WaitResult::TimedOut: return Fail("timed out waiting for the client's TLS handshake");
      case WaitResult::Ready: break;
    }
  }
  controlPending_.clear();
  char buffer[4096];
  while (::recv(control_.Get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
  return true;
}

TlsIo ScriptedPeer::ReadControlTls(Clock::time_point deadline, std::string& error) {
  char buffer[4096];
  std::size_t got = 0;
  const TlsIo outcome = controlTls_->Read(buffer, sizeof buffer, got, deadline, stopRead_.Get(), error);
  if (outcome == TlsIo::Done) {
    controlPending_.append(buffer, got);
    std::lock_guard lock(mutex_);
    controlBytes_.append(buffer, got);
  }
  return outcome;
}

bool ScriptedPeer::SendAllTls(UniqueFd& fd, const char* bytes, std::size_t count, DataCut cut, bool& cutShort,
                              const char* what) {
  TlsServerSession& tls = *TlsOf(fd);
  auto deadline = Clock::now() + stepTimeout_;
  std::size_t sent = 0;
  while (sent < count) {
    std::size_t written = 0;
    std::string error;
    const TlsIo outcome = tls.Write(bytes + sent, count - sent, written, deadline, stopRead_.Get(), error);
    if ((outcome == TlsIo::Reset || outcome == TlsIo::Closed) && cut == DataCut::Allowed) {
      cutShort = true;
      return true;
    }
    if (outcome == TlsIo::TimedOut) return Fail(std::string("the client took no ") + what + " bytes for too long");
    if (outcome != TlsIo::Done) return TlsFailure(outcome, error, std::string("sending the ") + what);
    sent += written;
    deadline = Clock::now() + stepTimeout_;
    if (&fd == &data_) {
      std::lock_guard lock(mutex_);
      dataBytesSent_ += written;
    }
  }
  return true;
}

bool ScriptedPeer::RunDataReceiveTls() {
  DataCapture capture;
  capture.fnv1a = kFnvOffsetBasis;
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    std::size_t got = 0;
    std::string error;
    const TlsIo outcome =
        dataTls_->Read(buffer.data(), buffer.size(), got, Clock::now() + stepTimeout_, stopRead_.Get(), error);
    if (outcome == TlsIo::Done) {
      Record(capture, std::string_view(buffer.data(), got));
      continue;
    }
    if (outcome == TlsIo::TimedOut) {
      return Fail("the client neither sent data nor closed the data connection for too long, after " +
                  std::to_string(capture.count) + " bytes");
    }
    if (outcome != TlsIo::Closed && outcome != TlsIo::Reset) return TlsFailure(outcome, error, "receiving data");
    capture.endedByReset = outcome == TlsIo::Reset;
    capture.endedByCloseNotify = dataTls_->ClosedByNotify();
    break;
  }
  std::lock_guard lock(mutex_);
  dataCaptures_.push_back(std::move(capture));
  return true;
}

void ScriptedPeer::CloseTls(std::unique_ptr<TlsServerSession>& session, UniqueFd& fd) {
  if (session && fd.Valid()) {
    std::string error;
    // A client that has gone already cannot take close_notify; the close goes on anyway.
    session->Shutdown(Clock::now() + stepTimeout_, stopRead_.Get(), error);
  }
  session.reset();
  fd.Reset();
}

}  // namespace talvo::test
