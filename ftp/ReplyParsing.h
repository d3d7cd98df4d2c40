// Pure pieces of the control side: the server's dialect from its SYST reply, the directory
// from a PWD reply, the size of a file from SIZE's reply or announced by a RETR preliminary
// reply, the PORT or EPRT command, and the features a FEAT reply lists.
#pragma once

#include <cstdint>
#include <string>

#include "ftp/FtpTypes.h"

TFTPServerType ServerTypeFromSyst(const std::string& reply);

// The text between the first two double quotes; empty when there are not two.
std::string DirectoryFromPwd(const std::string& reply);

// The text between the first "(" and the first blank after it; false when there is none.
bool TransferSizeFromReply(const std::string& reply, std::string& size);

// The size a reply to SIZE gives ("213 1234"); false for a refusal or anything else.
bool ByteCountFromSizeReply(const std::string& reply, std::int64_t& count);
// The size a RETR preliminary reply announces in its last "(N bytes)" (the file's name,
// before it, may hold parentheses too); false when it announces none.
bool ByteCountFromOpeningReply(const std::string& reply, std::int64_t& count);

// "h1,h2,h3,h4,p1,p2" for a dotted address and a port in host order.
std::string PortArgument(const std::string& dottedAddress, std::uint16_t port);

// The feature a line inside a FEAT reply names: its first word, in capitals ("MLST" for
// " MLST type*;size*;").
std::string FeatureName(const std::string& line);

// The command that names where the client listens: "PORT h1,h2,h3,h4,p1,p2" for an IPv4
// address, "EPRT |2|address|port|" (RFC 2428, without the zone) for an IPv6 one.
std::string DataPortCommand(const std::string& address, std::uint16_t port);

// Reply classes: the first character of the line.
inline bool IsReplyClass(const std::string& line, char digit) {
  return !line.empty() && line[0] == digit;
}
// The line begins with a three-digit reply code.
inline bool IsReplyCode(const std::string& line) {
  return line.size() >= 3 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' && line[1] <= '9' &&
         line[2] >= '0' && line[2] <= '9';
}
// A final reply (class 2 to 5) answers a command; class 1 is preliminary.
inline bool IsFinalReply(const std::string& line) {
  return !line.empty() && line[0] >= '2' && line[0] <= '5';
}
