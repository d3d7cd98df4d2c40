// Addresses as text, for both families: which typed text is an address (and which a host
// name to look up), the text form of an address, and its one canonical text.
#pragma once

#include <string>

#include "platform/Winsock.h"

namespace platform {

// Typed text that is an address: four dot-separated decimal numbers of 0 to 255 without
// leading zeros and nothing else (IPv4), or an IPv6 address, with or without brackets,
// with or without a zone ("fe80::1%eth0"). Anything else is a host name: false. The port
// of `address` is 0; an unknown zone leaves the scope 0.
bool AddressFromText(const std::string& text, SOCKADDR_INET& address);

// The text form of an address: dotted IPv4, or IPv6 as the system writes it (shortest,
// lower case), with "%zone" when it has a scope. Empty for an unknown family.
std::string AddressText(const SOCKADDR_INET& address);

// The canonical text of typed text that is an address, whatever form it was typed in:
// "::1", "[::1]" and "0:0:0:0:0:0:0:1" all give "::1"; a zone is kept as typed. Empty when
// the text is a host name.
std::string CanonicalAddressText(const std::string& text);

// Text that the system's resolver would read as an IPv4 address although it is not four
// decimal numbers ("127.0.0.010" as octal, "127.1", "0x7f.1", "2130706433"): neither an
// address nor a name that any host can have.
bool LooseIpv4Text(const std::string& text);

// Two socket addresses of the same host: the same family and address (ports and scopes
// aside).
bool SameHost(const SOCKADDR_INET& a, const SOCKADDR_INET& b);

}  // namespace platform
