// The known hosts as the user's SSH tools keep them (OpenSSH's known_hosts format): which
// key a server is known by, and the line that adds a newly trusted one.
//
// A line names its hosts by patterns ("name", "[name]:port", "*.example.org", "!name") or
// hashed ("|1|salt|hash"), then gives the key's type and its base64 bytes; "@revoked" marks
// a key that is never trusted, "@cert-authority" lines are not host keys and are skipped.
// A server on port 22 is looked up by its name, any other as "[name]:port".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "SHA256:" and the unpadded base64 of the key's SHA-256, as OpenSSH writes a fingerprint.
std::string SshFingerprint(const std::string& keyBlob);

class TKnownHosts {
 public:
  enum class Verdict : std::uint8_t {
    Known,       // a line holds this very key
    Unknown,     // no line holds a key of this type for this server
    Changed,     // a line holds another key of this type (or revokes this one): never asked about
    Unreadable,  // a file exists but cannot be read: nothing can be said, so nothing is trusted
  };
  struct Result {
    Verdict verdict = Verdict::Unknown;
    std::string file;  // Changed: the file and line to remove; Unreadable: the file
    int line = 0;
  };

  // The files read, the first of them the one Add() writes.
  explicit TKnownHosts(std::vector<std::string> files) : files_(std::move(files)) {}

  Result Check(const std::string& host, std::uint16_t port, const std::string& keyType,
               const std::string& keyBlob) const;
  // The key types the files hold for this server, comma-separated (to offer them first).
  std::string KnownTypes(const std::string& host, std::uint16_t port) const;
  // Appends a hashed line for this server and key to the first file, making it (0600) and
  // its folder (0700) where missing. False when it could not be written.
  bool Add(const std::string& host, std::uint16_t port, const std::string& keyType, const std::string& keyBlob) const;

  // The name a server is known by: "name" on port 22, "[name]:port" otherwise.
  static std::string LookupName(const std::string& host, std::uint16_t port);

 private:
  struct Entry {
    std::string type;
    std::string blob;
    bool revoked = false;
    std::string file;
    int line = 0;
  };
  // The entries for this server in every file; false (with `unreadable`) when a file exists
  // but cannot be read.
  bool EntriesFor(const std::string& name, std::vector<Entry>& entries, std::string& unreadable) const;

  std::vector<std::string> files_;
};
