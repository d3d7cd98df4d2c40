#include "session/PartOrigin.h"

#include <charconv>
#include <strings.h>
#include <vector>

namespace {

constexpr std::string_view kHeader = "talvo-ftp part 1";

// Backslash and line breaks escaped, so that a field is always one line.
std::string Escaped(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescaped(std::string_view line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      out += line[i];
      continue;
    }
    if (++i == line.size()) return std::nullopt;
    const char c = line[i];
    if (c != '\\' && c != 'n' && c != 'r') return std::nullopt;
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : '\\';
  }
  return out;
}

template <typename Number>
bool NumberFrom(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && last == end;
}

}  // namespace

bool TPartOrigin::Continues(const TPartOrigin& earlier) const {
  const bool samePath = (!RemotePath.empty() && RemotePath == earlier.RemotePath) ||
                        (!LoginPath.empty() && LoginPath == earlier.LoginPath);
  return !Server.empty() && Port != 0 && samePath && Size >= 0 && Modified >= 0 &&
         ::strcasecmp(Server.c_str(), earlier.Server.c_str()) == 0 && Port == earlier.Port && User == earlier.User &&
         Size == earlier.Size && Modified == earlier.Modified && Target == earlier.Target;
}

std::string TPartOrigin::Text() const {
  std::string text(kHeader);
  for (const std::string& field : {Server, std::to_string(Port), User, RemotePath, LoginPath, std::to_string(Size),
                                   std::to_string(Modified), Target}) {
    text += '\n' + Escaped(field);
  }
  return text + '\n';
}

std::optional<TPartOrigin> TPartOrigin::Parse(std::string_view text) {
  std::vector<std::string> fields;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::optional<std::string> field = Unescaped(text.substr(0, end));
    if (!field) return std::nullopt;
    fields.push_back(*field);
    text.remove_prefix(end + 1);
  }
  TPartOrigin origin;
  if (fields.size() != 9 || fields[0] != kHeader || !NumberFrom(fields[2], origin.Port) ||
      !NumberFrom(fields[6], origin.Size) || !NumberFrom(fields[7], origin.Modified)) {
    return std::nullopt;
  }
  origin.Server = fields[1];
  origin.User = fields[3];
  origin.RemotePath = fields[4];
  origin.LoginPath = fields[5];
  origin.Target = fields[8];
  return origin;
}
