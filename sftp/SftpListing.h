// TSftpListing: one folder's listing, from the attributes the server sends with each name
// (never from its "ls -l" text): folders and files told apart by their type, size and time
// kept. A link is resolved by asking the server what it leads to (a link to nowhere is
// listed as a file of unknown size). Names come as the server sends them, any bytes but
// NUL cut nothing short; "." and ".." are left out.
#pragma once

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "session/ListingFacts.h"
#include "sftp/SftpChannel.h"
#include "sftp/SshStatus.h"

class TSftpListing {
 public:
  struct Entry {
    std::string Name;
    bool Folder = false;
    bool Link = false;
    ListingFacts Facts;
  };
  // A listing longer than this (in names, or in their bytes) fails rather than grow memory
  // without bound.
  static constexpr std::size_t kMaxEntries = 1000000;
  static constexpr std::size_t kMaxNameBytes = 64 * 1024 * 1024;

  TSftpListing(TSftpChannel& channel, std::string folder) : channel_(channel), folder_(std::move(folder)) {}
  ~TSftpListing();
  TSftpListing(const TSftpListing&) = delete;
  TSftpListing& operator=(const TSftpListing&) = delete;

  // Done with Entries() filled; Failed with FailureCode() (a libssh2 code, or 0 for a
  // listing too long).
  TSshStatus Step();
  const std::vector<Entry>& Entries() const { return entries_; }
  int FailureCode() const { return failure_; }

 private:
  enum class Stage : std::uint8_t { Open, Read, Close, Links, Done };
  TSshStatus Fail(int rc);
  TSshStatus Read();
  TSshStatus ResolveLinks();
  void Take(const char* name, std::size_t length, const LIBSSH2_SFTP_ATTRIBUTES& attrs);

  TSftpChannel& channel_;
  std::string folder_;
  Stage stage_ = Stage::Open;
  LIBSSH2_SFTP_HANDLE* handle_ = nullptr;
  std::vector<Entry> entries_;
  std::size_t link_ = 0;
  std::size_t nameBytes_ = 0;
  int failure_ = 0;
  char name_[8192] = {};
};

// What a name's attributes say of it.
void TakeAttributes(const LIBSSH2_SFTP_ATTRIBUTES& attrs, bool& folder, ListingFacts& facts);
