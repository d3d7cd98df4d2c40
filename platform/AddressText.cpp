#include "platform/AddressText.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Splits "[addr]", "addr%zone" or "[addr%zone]" into the address and the zone; false when
// brackets do not pair up.
bool SplitIpv6Text(const std::string& text, std::string& address, std::string& zone) {
  std::string inner = text;
  if (!inner.empty() && inner.front() == '[') {
    if (inner.size() < 2 || inner.back() != ']') return false;
    inner = inner.substr(1, inner.size() - 2);
  }
  const std::size_t percent = inner.find('%');
  address = inner.substr(0, percent);
  zone = percent == std::string::npos ? std::string() : inner.substr(percent + 1);
  return percent == std::string::npos || !zone.empty();
}

std::uint32_t ScopeOf(const std::string& zone) {
  if (zone.empty()) return 0;
  if (const unsigned index = ::if_nametoindex(zone.c_str()); index != 0) return index;
  char* end = nullptr;
  const unsigned long number = std::strtoul(zone.c_str(), &end, 10);
  return *end == '\0' ? static_cast<std::uint32_t>(number) : 0;
}

}  // namespace

bool AddressFromText(const std::string& text, SOCKADDR_INET& address) {
  address = SOCKADDR_INET{};
  in_addr v4{};
  if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    address.sin_addr = v4.s_addr;
    return true;
  }
  std::string bare, zone;
  in6_addr v6{};
  if (!SplitIpv6Text(text, bare, zone) || ::inet_pton(AF_INET6, bare.c_str(), &v6) != 1) return false;
  address.sin_family = AF_INET6_VALUE;
  std::memcpy(address.sin6_addr, &v6, sizeof address.sin6_addr);
  address.sin6_scope_id = ScopeOf(zone);
  return true;
}

std::string AddressText(const SOCKADDR_INET& address) {
  char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 1] = {};
  if (address.sin_family == AF_INET_VALUE) return ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  if (address.sin_family != AF_INET6_VALUE) return {};
  std::string shown = ::inet_ntop(AF_INET6, address.sin6_addr, text, sizeof text);
  if (address.sin6_scope_id != 0) {
    char name[IF_NAMESIZE] = {};
    shown += "%";
    shown += ::if_indextoname(address.sin6_scope_id, name) != nullptr ? name : std::to_string(address.sin6_scope_id);
  }
  return shown;
}

std::string CanonicalAddressText(const std::string& text) {
  SOCKADDR_INET address;
  if (!AddressFromText(text, address)) return {};
  address.sin6_scope_id = 0;
  std::string bare, zone;
  SplitIpv6Text(text, bare, zone);
  return AddressText(address) + (address.sin_family == AF_INET6_VALUE && !zone.empty() ? "%" + zone : "");
}

bool LooseIpv4Text(const std::string& text) {
  in_addr parsed{};
  return ::inet_aton(text.c_str(), &parsed) != 0 && ::inet_pton(AF_INET, text.c_str(), &parsed) != 1;
}

bool SameHost(const SOCKADDR_INET& a, const SOCKADDR_INET& b) {
  if (a.sin_family != b.sin_family) return false;
  if (a.sin_family == AF_INET_VALUE) return a.sin_addr == b.sin_addr;
  return std::memcmp(a.sin6_addr, b.sin6_addr, sizeof a.sin6_addr) == 0;
}

}  // namespace platform
