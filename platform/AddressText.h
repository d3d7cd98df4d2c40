// The one canonical text of an IP address, so that two spellings of the same address are
// one key wherever addresses are compared or remembered (the file of known servers).
#pragma once

#include <string>

namespace platform {

// "127.0.0.1" for "127.0.0.1"; "::1" for "::1", "[::1]" and "0:0:0:0:0:0:0:1": the text
// inet_ntop gives for what inet_pton reads (IPv4 as four decimal numbers, nothing else).
// Empty for anything that is not an address literal (a host name).
std::string CanonicalAddress(const std::string& text);

}  // namespace platform
