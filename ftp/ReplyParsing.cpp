#include "ftp/ReplyParsing.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace {

// Decimal digits only, within range.
bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

bool ParseCount(const std::string& text, std::int64_t& count) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::from_chars(text.data(), text.data() + text.size(), count).ec == std::errc();
}

}  // namespace

TFTPServerType ServerTypeFromSyst(const std::string& reply) {
  if (reply.starts_with('5')) return ftpstDefault;  // refused: nothing said
  std::string text = reply.size() > 4 ? reply.substr(4, 99) : std::string();
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const auto has = [&text](const char* word) { return text.find(word) != std::string::npos; };
  TFTPServerType type = ftpstDefault;
  if (has("UNIX")) type = ftpstUNIX;
  if (has("CLIX")) type = ftpstClix;
  if (has("ULTRIX")) type = ftpstULTRIX;
  if (has("MVS")) type = ftpstMVS;
  if (has("QVT")) type = ftpstQVT;
  if (has("NCSA")) type = ftpstNCSA;
  if (has("CHAMELEON")) type = ftpstChameleon;
  if (has("VMS")) {
    type = has("MULTINET") ? ftpstVmsMultinet : ftpstVmsUcx;
  } else if (has("VM")) {
    type = has("VPS") ? ftpstVMVPS : ftpstVM;
  }
  return type;
}

std::string DirectoryFromPwd(const std::string& reply) {
  const std::size_t open = reply.find('"');
  if (open == std::string::npos) return {};
  std::string directory;
  for (std::size_t i = open + 1; i < reply.size(); ++i) {
    if (reply[i] != '"') {
      directory += reply[i];
    } else if (i + 1 < reply.size() && reply[i + 1] == '"') {
      directory += '"';  // a quote inside the name is written twice
      ++i;
    } else {
      return directory;
    }
  }
  return {};  // no closing quote
}

bool TransferSizeFromReply(const std::string& reply, std::string& size) {
  const std::size_t open = reply.find('(');
  if (open == std::string::npos) return false;
  const std::size_t blank = reply.find(' ', open);
  if (blank == std::string::npos) return false;
  size = reply.substr(open + 1, blank - open - 1);
  return true;
}

bool ByteCountFromSizeReply(const std::string& reply, std::int64_t& count) {
  if (reply.compare(0, 4, "213 ") != 0) return false;
  const std::size_t end = reply.find_last_not_of(' ');
  return ParseCount(reply.substr(4, end - 3), count);
}

bool ByteCountFromOpeningReply(const std::string& reply, std::int64_t& count) {
  const std::size_t end = reply.rfind(" bytes)");
  const std::size_t open = end == std::string::npos ? end : reply.rfind('(', end);
  return open != std::string::npos && ParseCount(reply.substr(open + 1, end - open - 1), count);
}

std::string PortArgument(const std::string& dottedAddress, std::uint16_t port) {
  std::string text = dottedAddress;
  std::replace(text.begin(), text.end(), '.', ',');
  return text + "," + std::to_string(port >> 8) + "," + std::to_string(port & 255);
}

std::string FeatureName(const std::string& line) {
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string::npos) return {};
  std::string name = line.substr(start, line.find(' ', start) - start);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name;
}

std::string DataPortCommand(const std::string& address, std::uint16_t port) {
  if (address.find(':') == std::string::npos) return "PORT " + PortArgument(address, port);
  // An IPv4 address mapped into IPv6 is an IPv4 address to the server, which refuses it
  // in EPRT's IPv6 form.
  constexpr std::string_view kMapped = "::ffff:";
  if (address.size() > kMapped.size() && EqualsIgnoringCase(std::string_view(address).substr(0, kMapped.size()), kMapped) &&
      address.find(':', kMapped.size()) == std::string::npos) {
    return "PORT " + PortArgument(address.substr(kMapped.size()), port);
  }
  return "EPRT |2|" + address.substr(0, address.find('%')) + "|" + std::to_string(port) + "|";
}
