#include "ftp/PassiveReply.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/AddressText.h"

namespace {

// Reads a decimal number of at most five digits at `at`; false when there is none.
bool ReadNumber(const std::string& text, std::size_t& at, unsigned& value) {
  const std::size_t start = at;
  value = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && at - start < 5) {
    value = value * 10 + static_cast<unsigned>(text[at] - '0');
    ++at;
  }
  return at > start && (at == text.size() || !std::isdigit(static_cast<unsigned char>(text[at])));
}

}  // namespace

bool PortFromEpsvReply(const std::string& reply, std::uint16_t& port) {
  const std::size_t open = reply.find('(', 3);
  if (open == std::string::npos || open + 4 >= reply.size()) return false;
  const char d = reply[open + 1];
  if (reply[open + 2] != d || reply[open + 3] != d) return false;
  std::size_t at = open + 4;
  unsigned value = 0;
  if (!ReadNumber(reply, at, value) || at >= reply.size() || reply[at] != d) return false;
  if (value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

bool AddressFromPasvReply(const std::string& reply, std::string& dottedAddress, std::uint16_t& port) {
  for (std::size_t start = 3; start < reply.size(); ++start) {
    if (!std::isdigit(static_cast<unsigned char>(reply[start]))) continue;
    std::vector<unsigned> numbers;
    std::size_t at = start;
    unsigned value = 0;
    while (numbers.size() < 6 && ReadNumber(reply, at, value) && value <= 255) {
      numbers.push_back(value);
      if (numbers.size() < 6) {
        if (at >= reply.size() || reply[at] != ',') break;
        ++at;
      }
    }
    if (numbers.size() == 6) {
      const unsigned p = numbers[4] * 256 + numbers[5];
      if (p == 0) return false;
      dottedAddress = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                      std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
      port = static_cast<std::uint16_t>(p);
      return true;
    }
    // Not the six numbers: go on after this run of digits.
    while (start + 1 < reply.size() && std::isdigit(static_cast<unsigned char>(reply[start + 1]))) ++start;
  }
  return false;
}

namespace {

bool HostOrderAddress(const std::string& dotted, std::uint32_t& address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

bool BehindRouter(std::uint32_t a) {
  const auto in = [a](std::uint32_t network, int bits) { return (a >> (32 - bits)) == (network >> (32 - bits)); };
  return in(0x0A000000u, 8) || in(0xAC100000u, 12) || in(0xC0A80000u, 16) || in(0x64400000u, 10) ||
         in(0xA9FE0000u, 16);
}

bool BehindRouter(const platform::SOCKADDR_INET& a) {
  if (a.sin_family == platform::AF_INET_VALUE) return BehindRouter(ntohl(a.sin_addr));
  return (a.sin6_addr[0] & 0xFE) == 0xFC || (a.sin6_addr[0] == 0xFE && (a.sin6_addr[1] & 0xC0) == 0x80);
}

bool Loopback(const platform::SOCKADDR_INET& a) {
  static const std::uint8_t kIpv6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (a.sin_family == platform::AF_INET_VALUE) return (ntohl(a.sin_addr) >> 24) == 127;
  return std::equal(a.sin6_addr, a.sin6_addr + 16, kIpv6Loopback);
}

}  // namespace

bool RouterBetween(const std::string& local, const std::string& server) {
  platform::SOCKADDR_INET own, peer;
  if (!platform::AddressFromText(local, own) || !platform::AddressFromText(server, peer)) return false;
  return BehindRouter(own) && !BehindRouter(peer) && !Loopback(peer);
}

bool SameAddress(const std::string& a, const std::string& b) {
  std::uint32_t x = 0, y = 0;
  return HostOrderAddress(a, x) && HostOrderAddress(b, y) && x == y;
}
