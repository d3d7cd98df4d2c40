#include "sftp/KnownHosts.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "sftp/SshText.h"

namespace {

// "|1|salt|hash": HMAC-SHA1 of the name, keyed by the salt.
bool HashedMatch(const std::string& field, const std::string& name) {
  const std::size_t bar = field.find('|', 3);
  if (bar == std::string::npos) return false;
  const std::string salt = Base64Decode(field.substr(3, bar - 3));
  const std::string hash = Base64Decode(field.substr(bar + 1));
  if (salt.empty() || hash.size() != 20) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), salt.data(), static_cast<int>(salt.size()), reinterpret_cast<const unsigned char*>(name.data()),
       name.size(), digest, &length);
  return length == hash.size() && hash.compare(0, hash.size(), reinterpret_cast<const char*>(digest), length) == 0;
}

// The host field of a line against the name.
bool HostsMatch(const std::string& field, const std::string& name) {
  if (field.rfind("|1|", 0) == 0) return HashedMatch(field, name);
  std::vector<std::string> patterns;
  std::size_t start = 0;
  while (start <= field.size()) {
    std::size_t end = field.find(',', start);
    if (end == std::string::npos) end = field.size();
    patterns.push_back(field.substr(start, end - start));
    start = end + 1;
  }
  return SshPatternsMatch(patterns, name);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (in >> field) fields.push_back(field);
  return fields;
}

}  // namespace

std::string SshFingerprint(const std::string& keyBlob) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(keyBlob.data()), keyBlob.size(), digest);
  std::string text = Base64Encode(std::string(reinterpret_cast<const char*>(digest), sizeof digest));
  while (!text.empty() && text.back() == '=') text.pop_back();
  return "SHA256:" + text;
}

std::string TKnownHosts::LookupName(const std::string& host, std::uint16_t port) {
  return port == 22 ? host : "[" + host + "]:" + std::to_string(port);
}

bool TKnownHosts::EntriesFor(const std::string& name, std::vector<Entry>& entries, std::string& unreadable) const {
  for (const std::string& path : files_) {
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) continue;  // no file: nothing known there
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      unreadable = path;
      return false;
    }
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
      ++number;
      std::vector<std::string> fields = Fields(text);
      if (fields.empty() || fields[0][0] == '#') continue;
      bool revoked = false;
      if (fields[0][0] == '@') {
        if (fields[0] == "@cert-authority") continue;
        revoked = fields[0] == "@revoked";
        if (!revoked) continue;  // a marker this reader does not know
        fields.erase(fields.begin());
      }
      if (fields.size() < 3 || !HostsMatch(fields[0], name)) continue;
      entries.push_back({fields[1], Base64Decode(fields[2]), revoked, path, number});
    }
    if (in.bad()) {
      unreadable = path;
      return false;
    }
  }
  return true;
}

TKnownHosts::Result TKnownHosts::Check(const std::string& host, std::uint16_t port, const std::string& keyType,
                                       const std::string& keyBlob) const {
  std::vector<Entry> entries;
  Result result;
  if (!EntriesFor(LookupName(host, port), entries, result.file)) {
    result.verdict = Verdict::Unreadable;
    return result;
  }
  const Entry* other = nullptr;
  for (const Entry& entry : entries) {
    if (entry.revoked) {
      if (entry.blob == keyBlob) return {Verdict::Changed, entry.file, entry.line};
      continue;
    }
    if (entry.blob == keyBlob) result.verdict = Verdict::Known;
    if (entry.type == keyType && entry.blob != keyBlob && other == nullptr) other = &entry;
  }
  if (result.verdict == Verdict::Known) return result;
  if (other != nullptr) return {Verdict::Changed, other->file, other->line};
  return result;
}

std::string TKnownHosts::KnownTypes(const std::string& host, std::uint16_t port) const {
  std::vector<Entry> entries;
  std::string unreadable;
  EntriesFor(LookupName(host, port), entries, unreadable);
  std::string types;
  for (const Entry& entry : entries) {
    if (entry.revoked || ("," + types + ",").find("," + entry.type + ",") != std::string::npos) continue;
    if (!types.empty()) types += ',';
    types += entry.type;
  }
  return types;
}

bool TKnownHosts::Add(const std::string& host, std::uint16_t port, const std::string& keyType,
                      const std::string& keyBlob) const {
  if (files_.empty()) return false;
  const std::string& path = files_.front();
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) ::mkdir(path.substr(0, slash).c_str(), 0700);

  unsigned char salt[20];
  if (RAND_bytes(salt, sizeof salt) != 1) return false;
  const std::string name = LookupName(host, port);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), salt, sizeof salt, reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest,
       &length);
  std::string line = "|1|" + Base64Encode(std::string(reinterpret_cast<const char*>(salt), sizeof salt)) + "|" +
                     Base64Encode(std::string(reinterpret_cast<const char*>(digest), length)) + " " + keyType + " " +
                     Base64Encode(keyBlob) + "\n";

  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  // A last line without its line end would swallow the new one.
  struct stat st {};
  char last = '\n';
  if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') {
    line.insert(line.begin(), '\n');
  }
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  return ::close(fd) == 0 && written;
}
