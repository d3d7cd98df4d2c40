#include "sftp/SshText.h"

#include <openssl/evp.h>

#include <cctype>

std::string Base64Encode(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}

std::string Base64Decode(const std::string& text) {
  if (text.empty() || text.size() % 4 != 0) return {};
  std::string bytes(3 * (text.size() / 4) + 1, '\0');
  const int length =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                      reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (length < 0) return {};
  // The decoder counts the padding as zero bytes.
  std::size_t size = static_cast<std::size_t>(length);
  if (text.back() == '=') --size;
  if (text[text.size() - 2] == '=') --size;
  bytes.resize(size);
  return bytes;
}

bool SshPatternMatch(const char* pattern, const char* text) {
  for (;;) {
    if (*pattern == '\0') return *text == '\0';
    if (*pattern == '*') {
      ++pattern;
      for (const char* t = text;; ++t) {
        if (SshPatternMatch(pattern, t)) return true;
        if (*t == '\0') return false;
      }
    }
    if (*text == '\0') return false;
    if (*pattern != '?' &&
        std::tolower(static_cast<unsigned char>(*pattern)) != std::tolower(static_cast<unsigned char>(*text))) {
      return false;
    }
    ++pattern;
    ++text;
  }
}

bool SshPatternsMatch(const std::vector<std::string>& patterns, const std::string& name) {
  bool matched = false;
  for (const std::string& entry : patterns) {
    const bool negated = !entry.empty() && entry[0] == '!';
    const std::string pattern = negated ? entry.substr(1) : entry;
    if (pattern.empty() || !SshPatternMatch(pattern.c_str(), name.c_str())) continue;
    if (negated) return false;
    matched = true;
  }
  return matched;
}
