#include "platform/AddressText.h"

#include <arpa/inet.h>

namespace platform {

std::string CanonicalAddress(const std::string& text) {
  unsigned char address[sizeof(in6_addr)];
  char canonical[INET6_ADDRSTRLEN];
  if (::inet_pton(AF_INET, text.c_str(), address) == 1) {
    return ::inet_ntop(AF_INET, address, canonical, sizeof canonical) != nullptr ? canonical : "";
  }
  // An IPv6 literal may come in the brackets of a URL or a host:port text.
  const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
  const std::string bare = bracketed ? text.substr(1, text.size() - 2) : text;
  if (::inet_pton(AF_INET6, bare.c_str(), address) == 1) {
    return ::inet_ntop(AF_INET6, address, canonical, sizeof canonical) != nullptr ? canonical : "";
  }
  return {};
}

}  // namespace platform
