#include "tools/CliText.h"

#include <cstdio>

// Control characters (C0, DEL, and C1 as UTF-8 writes them) would reach the terminal as
// commands: a name could retitle or clear it. They are shown as escapes.
std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F || c1) {
      const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : c;
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, c1 ? "\\u%04X" : "\\x%02X", code);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
