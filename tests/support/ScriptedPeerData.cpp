// The sending side of the scripted peer and its data connections, active and passive.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tests/support/ScriptedPeer.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {

bool ScriptedPeer::SendPieces(UniqueFd& fd, const std::string& text,
                              const std::vector<std::size_t>& cuts, DataCut cut, const char* what, bool raw) {
  std::vector<std::size_t> bounds = cuts;
  bounds.push_back(text.size());
  std::sort(bounds.begin(), bounds.end());
  std::size_t begin = 0;
  for (const std::size_t end : bounds) {
    if (end <= begin || end > text.size()) continue;
    if (begin > 0 && !Sleep(splitPause_)) return false;
    bool cutShort = false;
    if (!SendAll(fd, text.data() + begin, end - begin, cut, cutShort, what, raw)) return false;
    if (cutShort) return true;
    begin = end;
  }
  return true;
}

bool ScriptedPeer::SendAll(UniqueFd& fd, const char* bytes, std::size_t count, DataCut cut,
                           bool& cutShort, const char* what, bool raw) {
  if (!fd.Valid()) return Fail(std::string("no connection to send the ") + what + " on");
  if (!raw && TlsOf(fd) != nullptr) return SendAllTls(fd, bytes, count, cut, cutShort, what);
  auto deadline = Clock::now() + stepTimeout_;
  std::size_t sent = 0;
  while (sent < count) {
    switch (WaitFor(fd.Get(), POLLOUT, stopRead_.Get(), deadline)) {
      case WaitResult::Stopped: return Fail("peer stopped before the script ended");
      case WaitResult::TimedOut:
        return Fail(std::string("the client took no ") + what + " bytes for too long");
      case WaitResult::Ready: break;
    }
    const ssize_t n = ::send(fd.Get(), bytes + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      if (cut == DataCut::Allowed && (errno == EPIPE || errno == ECONNRESET)) {
        cutShort = true;
        return true;
      }
      return Fail(std::string("send of ") + what + ": " + std::strerror(errno));
    }
    sent += static_cast<std::size_t>(n);
    deadline = Clock::now() + stepTimeout_;
    if (&fd == &data_) {
      std::lock_guard lock(mutex_);
      dataBytesSent_ += static_cast<std::uint64_t>(n);
    }
  }
  return true;
}

bool ScriptedPeer::RunDataConnect(const std::string& sourceAddress) {
  if (lastPortHost_.empty()) return Fail("no valid PORT command was read");
  dataTls_.reset();
  std::string error;
  data_ = ConnectTo(lastPortHost_, lastPortPort_, sourceAddress, stepTimeout_, error);
  if (!data_.Valid()) return Fail("data connection: " + error);
  EnableOption(data_.Get(), IPPROTO_TCP, TCP_NODELAY);
  return true;
}

bool ScriptedPeer::RunPassiveReply(bool extended, const std::string& namedAddress) {
  std::string error;
  passive_ = ListenLoopback(0, error);
  if (!passive_.Valid()) return Fail("passive listener: " + error);
  const std::uint16_t port = LocalPort(passive_.Get());
  std::string reply;
  if (extended) {
    reply = "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n";
  } else {
    std::string address = namedAddress;
    std::replace(address.begin(), address.end(), '.', ',');
    reply = "227 Entering Passive Mode (" + address + "," + std::to_string(port >> 8) + "," +
            std::to_string(port & 255) + ").\r\n";
  }
  return SendPieces(control_, reply, {}, DataCut::Forbidden, "reply");
}

bool ScriptedPeer::RunDeadPortReply(DeadPort how) {
  std::string error;
  UniqueFd listener = ListenLoopback(0, error, 0);
  if (!listener.Valid()) return Fail("passive listener: " + error);
  const std::uint16_t port = LocalPort(listener.Get());
  if (how == DeadPort::Refused) {
    listener.Reset();  // nothing listens there any more
  } else {
    // The queue of a listener that never accepts holds one connection: fill it, so the
    // kernel drops every later SYN and the client's connect never completes.
    for (int i = 0; i < 2; ++i) {
      UniqueFd filler = ConnectTo("127.0.0.1", port, {}, Millis(200), error);
      if (filler.Valid()) fillers_.push_back(std::move(filler));
    }
    passive_ = std::move(listener);
  }
  const std::string reply = "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n";
  return SendPieces(control_, reply, {}, DataCut::Forbidden, "reply");
}

bool ScriptedPeer::RunDataAccept() {
  if (!passive_.Valid()) return Fail("no passive listener to accept on");
  switch (WaitFor(passive_.Get(), POLLIN, stopRead_.Get(), Clock::now() + stepTimeout_)) {
    case WaitResult::Stopped: return Fail("peer stopped before the script ended");
    case WaitResult::TimedOut: return Fail("the client never opened the passive data connection");
    case WaitResult::Ready: break;
  }
  dataTls_.reset();
  data_ = UniqueFd(::accept4(passive_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!data_.Valid()) return Fail(std::string("accept of the data connection: ") + std::strerror(errno));
  EnableOption(data_.Get(), IPPROTO_TCP, TCP_NODELAY);
  return true;
}

bool ScriptedPeer::RunDataSendPattern(std::uint64_t size, DataCut cut) {
  std::string block(64 * 1024, '\0');
  for (std::uint64_t offset = 0; offset < size;) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - offset));
    FillPattern(offset, block.data(), count);
    bool cutShort = false;
    if (!SendAll(data_, block.data(), count, cut, cutShort, "data")) return false;
    if (cutShort) return true;
    offset += count;
  }
  return true;
}

void ScriptedPeer::Record(DataCapture& capture, std::string_view bytes) {
  capture.count += bytes.size();
  capture.fnv1a = Fnv1a(bytes, capture.fnv1a);
  if (capture.count <= kDataKeepLimit) {
    capture.bytes.append(bytes);
  } else {
    capture.bytes.clear();
  }
}

bool ScriptedPeer::RunDataReceive() {
  if (!data_.Valid()) return Fail("no data connection to receive on");
  if (dataTls_) return RunDataReceiveTls();
  DataCapture capture;
  capture.fnv1a = kFnvOffsetBasis;
  auto deadline = Clock::now() + stepTimeout_;
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    switch (WaitFor(data_.Get(), POLLIN, stopRead_.Get(), deadline)) {
      case WaitResult::Stopped: return Fail("peer stopped before the script ended");
      case WaitResult::TimedOut:
        return Fail("the client neither sent data nor closed the data connection for too long, after " +
                    std::to_string(capture.count) + " bytes");
      case WaitResult::Ready: break;
    }
    const ssize_t n = ::recv(data_.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n > 0) {
      Record(capture, std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      deadline = Clock::now() + stepTimeout_;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n < 0 && errno != ECONNRESET) return Fail(std::string("recv on data: ") + std::strerror(errno));
    capture.endedByReset = n < 0;
    break;
  }
  std::lock_guard lock(mutex_);
  dataCaptures_.push_back(std::move(capture));
  return true;
}

}  // namespace talvo::test
