#include "session/ServerText.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

constexpr const char* kUnreadable = "Adresse du serveur illisible : ";

bool Fail(std::string& problem, const std::string& why) {
  problem = kUnreadable + why;
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Bytes that end a command line early, or cut a C string.
bool HoldsLineEnd(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Decodes %XX escapes of one part of a link (`what`: "le nom d'utilisateur", ...). A bad
// escape in the password is not quoted, so that no part of a password is ever shown.
bool Decode(const std::string& text, const std::string& what, bool secret, std::string& out, std::string& problem) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      std::string shown;
      if (!secret) {
        shown = " « ";
        shown.append(text, i, 3);
        shown += " »";
      }
      return Fail(problem, "la séquence d'échappement" + shown + " dans " + what +
                               " n'est pas « % » suivi de deux chiffres hexadécimaux.");
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (HoldsLineEnd(out)) {
    return Fail(problem, what + " contient un retour à la ligne ou un caractère nul, qu'un serveur ne peut pas recevoir.");
  }
  return true;
}

bool ParsePort(const std::string& text, std::uint16_t& port, std::string& problem) {
  if (text.empty()) return true;  // "host:" is the host alone
  const bool digits = std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  const std::size_t first = text.find_first_not_of('0');
  if (!digits || first == std::string::npos || text.size() - first > 5 || std::stoul(text.substr(first)) > 65535) {
    return Fail(problem, "le port « " + text + " » n'est pas un nombre de 1 à 65535.");
  }
  port = static_cast<std::uint16_t>(std::stoul(text.substr(first)));
  return true;
}

// "host", "host:port", "[v6]", "[v6]:port"; a bare text with two colons or more is an
// IPv6 address without a port ("::1", "fe80::1%eth0"). In a link, an IPv6 address must
// stand in brackets, and the host is decoded.
bool ParseHostPort(const std::string& text, bool link, TServerTarget& target, std::string& problem) {
  std::string host, port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return Fail(problem, "le crochet « [ » de l'adresse n'est pas fermé.");
    host = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') {
      return Fail(problem, "après l'adresse entre crochets ne peut venir que « :port ».");
    }
    if (!rest.empty()) port = rest.substr(1);
  } else if (std::count(text.begin(), text.end(), ':') >= 2) {
    if (link) return Fail(problem, "dans un lien, une adresse IPv6 s'écrit entre crochets (ftp://[::1]:21).");
    host = text;
  } else {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    if (colon != std::string::npos) port = text.substr(colon + 1);
  }
  if (link) {
    const std::string written = host;
    if (!Decode(written, "le nom du serveur", false, host, problem)) return false;
  }
  if (HoldsLineEnd(host)) {
    return Fail(problem, "le nom du serveur contient un retour à la ligne ou un caractère nul.");
  }
  if (host.empty()) return Fail(problem, "le nom du serveur est vide.");
  target.Host = host;
  return ParsePort(port, target.Port, problem);
}

bool ParseLink(const std::string& scheme, const std::string& rest, TServerTarget& target, std::string& problem) {
  std::string lowered = scheme;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lowered == "ftp") {
    target.Protocol = TServerProtocol::Ftp;
  } else if (lowered == "ftps") {
    target.Protocol = TServerProtocol::Ftps;
  } else if (lowered == "sftp") {
    target.Protocol = TServerProtocol::Sftp;
  } else {
    return Fail(problem, "le protocole « " + scheme + " » n'est pas pris en charge (ftp, ftps ou sftp).");
  }
  target.Link = true;
  const std::size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  if (slash != std::string::npos && !Decode(rest.substr(slash), "le chemin", false, target.Path, problem)) {
    return false;
  }
  if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
    const std::string userInfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const std::size_t colon = userInfo.find(':');
    std::string user, password;
    if (!Decode(userInfo.substr(0, colon), "le nom d'utilisateur", false, user, problem)) return false;
    target.User = user;
    if (colon != std::string::npos) {
      if (!Decode(userInfo.substr(colon + 1), "le mot de passe", true, password, problem)) return false;
      target.Password = password;
    }
  }
  return ParseHostPort(authority, true, target, problem);
}

// `text` with every byte escaped but letters, digits, "-._~" and those of `keep`.
std::string Escaped(const std::string& text, const std::string& keep) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || std::string_view("-._~").find(c) != std::string_view::npos ||
        keep.find(c) != std::string::npos) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

}  // namespace

bool ParseServerText(const std::string& text, TServerTarget& target, std::string& problem) {
  target = TServerTarget{};
  problem.clear();
  const std::size_t begin = text.find_first_not_of(" \t");
  const std::size_t end = text.find_last_not_of(" \t");
  const std::string typed = begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
  const std::size_t separator = typed.find("://");
  if (separator != std::string::npos && separator > 0 && std::isalpha(static_cast<unsigned char>(typed[0])) &&
      std::all_of(typed.begin(), typed.begin() + static_cast<std::ptrdiff_t>(separator), [](unsigned char c) {
        return std::isalnum(c) != 0 || c == '+' || c == '-' || c == '.';
      })) {
    return ParseLink(typed.substr(0, separator), typed.substr(separator + 3), target, problem);
  }
  return ParseHostPort(typed, false, target, problem);
}

std::uint16_t DefaultPort(TServerProtocol protocol) {
  return protocol == TServerProtocol::Sftp ? 22 : 21;
}

const char* SchemeName(TServerProtocol protocol) {
  switch (protocol) {
    case TServerProtocol::Ftps: return "ftps";
    case TServerProtocol::Sftp: return "sftp";
    default: return "ftp";
  }
}

std::string LoginRelativePath(const TServerTarget& target) {
  return target.Path.empty() ? std::string() : target.Path.substr(1);
}

std::string StartFolder(const TServerTarget& target) {
  if (target.Protocol != TServerProtocol::Sftp) return LoginRelativePath(target);
  if (target.Path == "/~") return std::string();
  if (target.Path.rfind("/~/", 0) == 0) return target.Path.substr(3);
  return target.Path;
}

std::string ServerLink(const TServerTarget& target, std::uint16_t port) {
  // Built by appends: GCC 12 at -O3 sees a false overlap in "[" + std::string&&.
  std::string link = SchemeName(target.Protocol);
  link += "://";
  if (target.User) {
    link += Escaped(*target.User, "");
    link += '@';
  }
  // An IPv6 address keeps its colons inside the brackets; its zone's "%" is escaped.
  if (target.Host.find(':') != std::string::npos) {
    link += '[';
    link += Escaped(target.Host, ":");
    link += ']';
  } else {
    link += Escaped(target.Host, "");
  }
  if (port != 0 && port != DefaultPort(target.Protocol)) {
    link += ':';
    link += std::to_string(port);
  }
  return link;
}
