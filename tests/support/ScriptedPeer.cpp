#include "tests/support/ScriptedPeer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "tests/support/TestPattern.h"

namespace talvo::test {

namespace {

constexpr unsigned char kIac = 0xFF;

// Text for failure messages: CR, LF and other control or high bytes escaped.
std::string Printable(std::string_view text, std::size_t limit = 120) {
  std::string out;
  for (const char c : text.substr(0, limit)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}

// Removes Telnet commands from a command line, as a server does before parsing it.
std::string StripTelnet(std::string_view raw) {
  std::string line;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto byte = static_cast<unsigned char>(raw[i]);
    if (byte != kIac || i + 1 >= raw.size()) {
      line += raw[i];
      continue;
    }
    const auto command = static_cast<unsigned char>(raw[i + 1]);
    if (command == kIac) {
      line += raw[i];
      ++i;
    } else if (command >= 251 && command <= 254) {  // WILL, WONT, DO, DONT + option
      i += 2;
    } else {
      ++i;
    }
  }
  return line;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

ScriptedPeer::ScriptedPeer() {
  std::string error;
  listener_ = ListenLoopback(0, error);
  int stopPipe[2];
  if (::pipe2(stopPipe, O_CLOEXEC) == 0) {
    stopRead_.Reset(stopPipe[0]);
    stopWrite_.Reset(stopPipe[1]);
  } else {
    error = std::string("pipe: ") + std::strerror(errno);
  }
  if (listener_.Valid()) {
    ::fcntl(listener_.Get(), F_SETFL, ::fcntl(listener_.Get(), F_GETFL) | O_NONBLOCK);
    EnableOption(listener_.Get(), SOL_SOCKET, SO_OOBINLINE);
    port_ = LocalPort(listener_.Get());
  }
  if (!error.empty()) failure_ = "cannot set up the peer: " + error;
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) {
    const char wake = 1;
    [[maybe_unused]] const auto written = ::write(stopWrite_.Get(), &wake, 1);
    thread_.join();
  }
}

// --- Building the script ---

ScriptedPeer& ScriptedPeer::Add(std::string name, std::function<bool()> run) {
  if (started_) {
    std::fprintf(stderr, "ScriptedPeer: step %s added after Start() is ignored\n", name.c_str());
    return *this;
  }
  steps_.push_back({std::move(name), std::move(run)});
  return *this;
}

ScriptedPeer& ScriptedPeer::Login() { return Login(LoginReplies{}); }

ScriptedPeer& ScriptedPeer::Login(const LoginReplies& replies) {
  Reply(replies.greeting).Expect("USER").Reply(replies.user);
  if (!replies.user.empty() && replies.user[0] == '3') Expect("PASS").Reply(replies.pass);
  Expect("SYST").Reply(replies.syst).Expect("FEAT").Reply(replies.feat);
  if (!replies.opts.empty()) Expect("OPTS UTF8 ON").Reply(replies.opts);
  return *this;
}

ScriptedPeer& ScriptedPeer::Reply(std::string text) {
  return ReplySplit(std::move(text), {});
}

ScriptedPeer& ScriptedPeer::ReplySplit(std::string text, std::vector<std::size_t> cuts) {
  const std::string name = (cuts.empty() ? "Reply \"" : "ReplySplit \"") + Printable(text) + "\"";
  return Add(name, [this, text = std::move(text), cuts = std::move(cuts)] {
    return SendPieces(control_, text, cuts, DataCut::Forbidden, "reply");
  });
}

ScriptedPeer& ScriptedPeer::Expect(std::string prefix) {
  const std::string name = "Expect \"" + Printable(prefix) + "\"";
  return Add(name, [this, prefix = std::move(prefix)] { return RunExpect(prefix); });
}

ScriptedPeer& ScriptedPeer::ExpectRaw(std::string bytes) {
  const std::string name = "ExpectRaw \"" + Printable(bytes) + "\"";
  return Add(name, [this, bytes = std::move(bytes)] { return RunExpectRaw(bytes); });
}

ScriptedPeer& ScriptedPeer::Pause(int milliseconds) {
  return Add("Pause " + std::to_string(milliseconds) + " ms",
             [this, milliseconds] { return Sleep(Millis(milliseconds)); });
}

ScriptedPeer& ScriptedPeer::Hold() {
  const int index = holds_++;
  return Add("Hold " + std::to_string(index + 1), [this, index] {
    const auto deadline = Clock::now() + stepTimeout_;
    while (released_.load() <= index) {
      if (Clock::now() >= deadline) return Fail("never released");
      if (!Sleep(Millis(2))) return false;
    }
    return true;
  });
}

ScriptedPeer& ScriptedPeer::Close() {
  return Add("Close", [this] {
    CloseTls(controlTls_, control_);
    return true;
  });
}

ScriptedPeer& ScriptedPeer::Reset() {
  return Add("Reset", [this] {
    controlTls_.reset();
    ResetConnection(control_);
    return true;
  });
}

ScriptedPeer& ScriptedPeer::AwaitClose() {
  return Add("AwaitClose", [this] { return RunAwaitClose(); });
}

ScriptedPeer& ScriptedPeer::AcceptNext() {
  return Add("AcceptNext", [this] { return AcceptControl(); });
}

ScriptedPeer& ScriptedPeer::ReplyEpsv() {
  return Add("ReplyEpsv", [this] { return RunPassiveReply(true, {}); });
}

ScriptedPeer& ScriptedPeer::ReplyPasv(std::string namedAddress) {
  return Add("ReplyPasv naming " + namedAddress,
             [this, namedAddress] { return RunPassiveReply(false, namedAddress); });
}

ScriptedPeer& ScriptedPeer::ReplyEpsvToDeadPort(DeadPort how) {
  return Add(how == DeadPort::Refused ? "ReplyEpsv, refused port" : "ReplyEpsv, full listener",
             [this, how] { return RunDeadPortReply(how); });
}

ScriptedPeer& ScriptedPeer::DataAccept() {
  return Add("DataAccept", [this] { return RunDataAccept(); });
}

ScriptedPeer& ScriptedPeer::DataConnect(std::string sourceAddress) {
  const std::string name = "DataConnect" + (sourceAddress.empty() ? "" : " from " + sourceAddress);
  return Add(name, [this, sourceAddress = std::move(sourceAddress)] {
    return RunDataConnect(sourceAddress);
  });
}

ScriptedPeer& ScriptedPeer::DataSend(std::string bytes) {
  return DataSendSplit(std::move(bytes), {});
}

ScriptedPeer& ScriptedPeer::DataSendSplit(std::string bytes, std::vector<std::size_t> cuts) {
  const std::string name = "DataSend \"" + Printable(bytes) + "\"";
  return Add(name, [this, bytes = std::move(bytes), cuts = std::move(cuts)] {
    return SendPieces(data_, bytes, cuts, DataCut::Forbidden, "data");
  });
}

ScriptedPeer& ScriptedPeer::DataSendPattern(std::uint64_t size, DataCut cut) {
  return Add("DataSendPattern " + std::to_string(size),
             [this, size, cut] { return RunDataSendPattern(size, cut); });
}

ScriptedPeer& ScriptedPeer::DataReceive() {
  return Add("DataReceive", [this] { return RunDataReceive(); });
}

ScriptedPeer& ScriptedPeer::DataClose() {
  return Add("DataClose", [this] {
    CloseTls(dataTls_, data_);
    return true;
  });
}

ScriptedPeer& ScriptedPeer::DataReset() {
  return Add("DataReset", [this] {
    dataTls_.reset();
    ResetConnection(data_);
    return true;
  });
}

ScriptedPeer& ScriptedPeer::StartTls() {
  NeedCertificate();
  return Add("StartTls", [this] { return RunStartTls(false); });
}

ScriptedPeer& ScriptedPeer::DataStartTls() {
  NeedCertificate();
  return Add("DataStartTls", [this] { return RunStartTls(true); });
}

ScriptedPeer& ScriptedPeer::ReplyGarbage(std::string bytes) {
  const std::string name = "ReplyGarbage \"" + Printable(bytes) + "\"";
  return Add(name, [this, bytes = std::move(bytes)] {
    return (controlTls_ || AwaitClientHello()) &&
           SendPieces(control_, bytes, {}, DataCut::Forbidden, "garbage", /*raw=*/true);
  });
}

ScriptedPeer& ScriptedPeer::DataCloseWithoutNotify() {
  return Add("DataCloseWithoutNotify", [this] {
    dataTls_.reset();
    data_.Reset();
    return true;
  });
}

ScriptedPeer& ScriptedPeer::SetCertificate(TestCertificate certificate) {
  if (!started_) certificate_ = std::move(certificate);
  return *this;
}

ScriptedPeer& ScriptedPeer::SetDataCertificate(TestCertificate certificate) {
  if (!started_) dataCertificate_ = std::move(certificate);
  return *this;
}

ScriptedPeer& ScriptedPeer::SetStepTimeout(Millis timeout) {
  if (!started_) stepTimeout_ = timeout;
  return *this;
}

ScriptedPeer& ScriptedPeer::SetSplitPause(Millis pause) {
  if (!started_) splitPause_ = pause;
  return *this;
}

void ScriptedPeer::Start() {
  if (started_) return;
  started_ = true;
  if (!certificate_.certificateFile.empty() && Failure().empty()) {
    tlsContext_ = std::make_unique<TlsServerContext>();
    std::string error;
    if (!tlsContext_->Load(certificate_.certificateFile, certificate_.keyFile, error)) {
      failure_ = "cannot set up the peer: " + error;
    }
  }
  if (!dataCertificate_.certificateFile.empty() && Failure().empty()) {
    dataTlsContext_ = std::make_unique<TlsServerContext>();
    std::string error;
    if (!dataTlsContext_->Load(dataCertificate_.certificateFile, dataCertificate_.keyFile, error)) {
      failure_ = "cannot set up the peer: " + error;
    }
  }
  thread_ = std::thread([this] { Play(); });
}

// --- Results ---

bool ScriptedPeer::WaitFinished(Millis timeout) const {
  std::unique_lock lock(mutex_);
  return finishedChanged_.wait_for(lock, timeout, [this] { return finished_.load(); });
}

std::string ScriptedPeer::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::vector<std::string> ScriptedPeer::Commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::string ScriptedPeer::ControlBytes() const {
  std::lock_guard lock(mutex_);
  return controlBytes_;
}

std::vector<std::size_t> ScriptedPeer::UrgentOffsets() const {
  std::lock_guard lock(mutex_);
  return urgentOffsets_;
}

std::vector<ScriptedPeer::DataCapture> ScriptedPeer::DataReceived() const {
  std::lock_guard lock(mutex_);
  return dataCaptures_;
}

std::uint64_t ScriptedPeer::DataBytesSent() const {
  std::lock_guard lock(mutex_);
  return dataBytesSent_;
}

std::vector<ScriptedPeer::TlsHandshake> ScriptedPeer::TlsHandshakes() const {
  std::lock_guard lock(mutex_);
  return tlsHandshakes_;
}

// --- The script thread ---

void ScriptedPeer::Play() {
  // A TLS write goes through write(2), which raises SIGPIPE on a connection the client has
  // closed; blocked on this thread, the signal leaves only EPIPE. (Plain sends use
  // MSG_NOSIGNAL.)
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  bool ok = Failure().empty() && AcceptControl();
  for (std::size_t i = 0; ok && i < steps_.size(); ++i) {
    if (!steps_[i].run()) {
      std::lock_guard lock(mutex_);
      failure_ = "step " + std::to_string(i + 1) + " (" + steps_[i].name + "): " + failure_;
      ok = false;
    }
  }
  std::lock_guard lock(mutex_);
  finished_ = true;
  finishedChanged_.notify_all();
}

bool ScriptedPeer::Fail(const std::string& why) {
  std::lock_guard lock(mutex_);
  if (failure_.empty()) failure_ = why;
  return false;
}

bool ScriptedPeer::Sleep(Millis duration) {
  if (WaitFor(stopRead_.Get(), POLLIN, -1, Clock::now() + duration) == WaitResult::Ready) {
    return Fail("peer stopped before the script ended");
  }
  return true;
}

bool ScriptedPeer::AcceptControl() {
  controlTls_.reset();
  control_.Reset();
  controlPending_.clear();
  const auto deadline = Clock::now() + stepTimeout_;
  for (;;) {
    switch (WaitFor(listener_.Get(), POLLIN, stopRead_.Get(), deadline)) {
      case WaitResult::Stopped: return Fail("peer stopped before the script ended");
      case WaitResult::TimedOut: return Fail("no client connected to the control port");
      case WaitResult::Ready: break;
    }
    const int fd = ::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      control_.Reset(fd);
      EnableOption(fd, SOL_SOCKET, SO_OOBINLINE);
      EnableOption(fd, IPPROTO_TCP, TCP_NODELAY);
      return true;
    }
    if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
      return Fail(std::string("accept: ") + std::strerror(errno));
    }
  }
}

// Reads what the client sent on the control connection into controlPending_ (and the
// record). A failure is recorded; a close by the client is left to the caller to judge.
ScriptedPeer::ReadOutcome ScriptedPeer::ReadControl(Clock::time_point deadline,
                                                    const std::string& waitingFor) {
  if (!control_.Valid()) {
    Fail("no control connection while waiting for " + waitingFor);
    return ReadOutcome::Failed;
  }
  if (controlTls_) {
    std::string error;
    switch (const TlsIo outcome = ReadControlTls(deadline, error)) {
      case TlsIo::Done: return ReadOutcome::Data;
      case TlsIo::Closed:
      case TlsIo::Reset:
        controlTls_.reset();
        control_.Reset();
        return ReadOutcome::Closed;
      case TlsIo::TimedOut:
        Fail("timed out waiting for " + waitingFor + "; unread: \"" + Printable(controlPending_) + "\"");
        return ReadOutcome::Failed;
      default:
        TlsFailure(outcome, error, "waiting for " + waitingFor);
        return ReadOutcome::Failed;
    }
  }
  switch (WaitFor(control_.Get(), POLLIN | POLLPRI, stopRead_.Get(), deadline)) {
    case WaitResult::Stopped:
      Fail("peer stopped before the script ended");
      return ReadOutcome::Failed;
    case WaitResult::TimedOut:
      Fail("timed out waiting for " + waitingFor + "; unread: \"" + Printable(controlPending_) + "\"");
      return ReadOutcome::Failed;
    case WaitResult::Ready: break;
  }
  const bool atUrgentMark = ::sockatmark(control_.Get()) == 1;
  char buffer[4096];
  const ssize_t count = ::recv(control_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (count > 0) {
    controlPending_.append(buffer, static_cast<std::size_t>(count));
    std::lock_guard lock(mutex_);
    if (atUrgentMark) urgentOffsets_.push_back(controlBytes_.size());
    controlBytes_.append(buffer, static_cast<std::size_t>(count));
    return ReadOutcome::Data;
  }
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return ReadOutcome::Data;
  if (count == 0 || errno == ECONNRESET) {
    control_.Reset();
    return ReadOutcome::Closed;
  }
  Fail(std::string("recv: ") + std::strerror(errno));
  return ReadOutcome::Failed;
}

// Reads until `enough` holds; a close by the client is a failure here.
bool ScriptedPeer::ReadUntil(const std::function<bool()>& enough, const std::string& waitingFor) {
  const auto deadline = Clock::now() + stepTimeout_;
  while (!enough()) {
    switch (ReadControl(deadline, waitingFor)) {
      case ReadOutcome::Data: break;
      case ReadOutcome::Failed: return false;
      case ReadOutcome::Closed:
        return Fail("the client closed the control connection while the peer waited for " +
                    waitingFor + "; unread: \"" + Printable(controlPending_) + "\"");
    }
  }
  return true;
}

bool ScriptedPeer::TakeLine(std::string& line) {
  const std::size_t end = controlPending_.find("\r\n");
  if (end == std::string::npos) return false;
  line = StripTelnet(std::string_view(controlPending_).substr(0, end));
  controlPending_.erase(0, end + 2);
  if (StartsWithNoCase(line, "PORT ") || StartsWithNoCase(line, "EPRT ")) {
    const std::string_view argument = std::string_view(line).substr(5);
    if (!(StartsWithNoCase(line, "PORT ") ? ParsePortArgument(argument, lastPortHost_, lastPortPort_)
                         : ParseEprtArgument(argument, lastPortHost_, lastPortPort_))) {
      lastPortHost_.clear();
    }
  }
  std::lock_guard lock(mutex_);
  commands_.push_back(line);
  return true;
}

bool ScriptedPeer::RunExpect(const std::string& prefix) {
  const std::string waitingFor = "a command starting with \"" + Printable(prefix) + "\"";
  std::string line;
  if (!ReadUntil([&] { return TakeLine(line); }, waitingFor)) return false;
  if (line.compare(0, prefix.size(), prefix) != 0) {
    return Fail("expected " + waitingFor + ", got \"" + Printable(line) + "\"");
  }
  return true;
}

bool ScriptedPeer::RunExpectRaw(const std::string& bytes) {
  const std::string waitingFor = "the bytes \"" + Printable(bytes) + "\"";
  if (!ReadUntil([&] { return controlPending_.size() >= bytes.size(); }, waitingFor)) return false;
  if (controlPending_.compare(0, bytes.size(), bytes) != 0) {
    return Fail("expected " + waitingFor + ", got \"" +
                Printable(std::string_view(controlPending_).substr(0, bytes.size())) + "\"");
  }
  controlPending_.erase(0, bytes.size());
  return true;
}

bool ScriptedPeer::RunAwaitClose() {
  const auto deadline = Clock::now() + stepTimeout_;
  std::string line;
  for (;;) {
    while (TakeLine(line)) {
    }
    switch (ReadControl(deadline, "the client to close the control connection")) {
      case ReadOutcome::Data: break;
      case ReadOutcome::Failed: return false;
      case ReadOutcome::Closed:
        while (TakeLine(line)) {
        }
        return true;
    }
  }
}

}  // namespace talvo::test
