#include "sftp/SshAgent.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char kRequestIdentities = 11;
constexpr unsigned char kIdentitiesAnswer = 12;
constexpr unsigned char kSignRequest = 13;
constexpr unsigned char kSignResponse = 14;
constexpr std::uint32_t kMaxAnswer = 256 * 1024;

void PutUint32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutString(std::string& out, const std::string& value) {
  PutUint32(out, static_cast<std::uint32_t>(value.size()));
  out += value;
}

// Reads SSH's wire types from an answer; every read fails once the answer runs short.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  bool Uint32(std::uint32_t& value) {
    if (bytes_.size() - at_ < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<std::uint8_t>(bytes_[at_ + i]);
    at_ += 4;
    return true;
  }
  bool String(std::string& value) {
    std::uint32_t length = 0;
    if (!Uint32(length) || bytes_.size() - at_ < length) return false;
    value = bytes_.substr(at_, length);
    at_ += length;
    return true;
  }
  bool Byte(unsigned char& value) {
    if (at_ >= bytes_.size()) return false;
    value = static_cast<unsigned char>(bytes_[at_++]);
    return true;
  }

 private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

}  // namespace

TSshAgent::~TSshAgent() {
  if (fd_ >= 0) ::close(fd_);
}

bool TSshAgent::Connect() {
  if (fd_ >= 0) return true;
  sockaddr_un address{};
  if (path_.empty() || path_.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return false;
  // A local socket connects at once or not at all.
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

// One request and its answer (without their length prefixes), within kAnswerMs.
bool TSshAgent::Transact(const std::string& request, std::string& answer) {
  if (!Connect()) return false;
  std::string out;
  PutString(out, request);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
  const auto wait = [&](short events) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd_, events, 0};
    return left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) == 1;
  };
  std::size_t sent = 0;
  while (sent < out.size()) {
    const ssize_t n = ::send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EAGAIN || !wait(POLLOUT)) {
      return false;
    }
  }
  std::string in;
  std::uint32_t length = 0;
  while (in.size() < 4 || in.size() < 4 + length) {
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) {
      in.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EAGAIN || !wait(POLLIN)) {
      return false;  // the agent went away, or took too long
    }
    if (in.size() >= 4 && length == 0) {
      Reader(in).Uint32(length);
      if (length == 0 || length > kMaxAnswer) return false;
    }
  }
  answer = in.substr(4, length);
  return in.size() == 4 + length;
}

bool TSshAgent::ListIdentities(std::vector<Identity>& identities) {
  std::string answer;
  if (!Transact(std::string(1, static_cast<char>(kRequestIdentities)), answer)) return false;
  Reader reader(answer);
  unsigned char type = 0;
  std::uint32_t count = 0;
  if (!reader.Byte(type) || type != kIdentitiesAnswer || !reader.Uint32(count)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    Identity identity;
    if (!reader.String(identity.Blob) || !reader.String(identity.Comment)) return false;
    identities.push_back(std::move(identity));
  }
  return true;
}

bool TSshAgent::Sign(const std::string& blob, const std::string& data, std::string& signature) {
  std::string request(1, static_cast<char>(kSignRequest));
  PutString(request, blob);
  PutString(request, data);
  PutUint32(request, 0);
  std::string answer, wrapped, algorithm;
  if (!Transact(request, answer)) return false;
  Reader reader(answer);
  unsigned char type = 0;
  if (!reader.Byte(type) || type != kSignResponse || !reader.String(wrapped)) return false;
  Reader inner(wrapped);
  return inner.String(algorithm) && inner.String(signature);
}
