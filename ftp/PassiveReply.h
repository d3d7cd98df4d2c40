// Pure pieces of passive mode: the port of an EPSV reply, the address and port of a PASV
// reply, and whether an address belongs to a private network (behind a router).
#pragma once

#include <cstdint>
#include <string>

// "229 Entering Extended Passive Mode (|||6446|)": the port between the delimiters (any
// delimiter character, the same four times). False when there is no valid port.
bool PortFromEpsvReply(const std::string& reply, std::uint16_t& port);

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)", with or without the parentheses: the
// first six comma-separated numbers after the code. False unless all are 0 to 255 and the
// port is not 0.
bool AddressFromPasvReply(const std::string& reply, std::string& dottedAddress, std::uint16_t& port);

// Whether a router stands between this computer (its address `local`, as text) and the
// server: this side is on a network that reaches the Internet only through a router
// (private 10/8, 172.16/12, 192.168/16, shared 100.64/10, link-local 169.254/16; over
// IPv6 unique-local fc00::/7 and link-local fe80::/10) and the server is on none of those,
// nor on loopback.
bool RouterBetween(const std::string& local, const std::string& server);

// Two dotted addresses that name the same host (false when either is not an address).
bool SameAddress(const std::string& a, const std::string& b);
