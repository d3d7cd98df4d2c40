#include "sftp/SftpListing.h"

#include <sys/stat.h>

void TakeAttributes(const LIBSSH2_SFTP_ATTRIBUTES& attrs, bool& folder, ListingFacts& facts) {
  folder = (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) != 0 && S_ISDIR(attrs.permissions);
  facts.Size = (attrs.flags & LIBSSH2_SFTP_ATTR_SIZE) != 0 && attrs.filesize <= INT64_MAX
                   ? static_cast<std::int64_t>(attrs.filesize)
                   : -1;
  facts.Modified = (attrs.flags & LIBSSH2_SFTP_ATTR_ACMODTIME) != 0 ? static_cast<std::int64_t>(attrs.mtime) : -1;
}

TSftpListing::~TSftpListing() { channel_.CloseLater(handle_); }

TSshStatus TSftpListing::Fail(int rc) {
  failure_ = rc;
  return TSshStatus::Failed;
}

TSshStatus TSftpListing::Step() {
  switch (stage_) {
    case Stage::Open:
      handle_ = libssh2_sftp_open_ex(channel_.Handle(), folder_.c_str(), static_cast<unsigned>(folder_.size()), 0, 0,
                                     LIBSSH2_SFTP_OPENDIR);
      if (handle_ == nullptr) {
        const int rc = libssh2_session_last_errno(channel_.Session());
        return rc == LIBSSH2_ERROR_EAGAIN ? TSshStatus::Again : Fail(rc);
      }
      stage_ = Stage::Read;
      return TSshStatus::Progress;
    case Stage::Read:
      return Read();
    case Stage::Close: {
      const int rc = libssh2_sftp_close_handle(handle_);
      if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
      handle_ = nullptr;  // freed by libssh2, whatever the answer
      stage_ = Stage::Links;
      return TSshStatus::Progress;
    }
    case Stage::Links:
      return ResolveLinks();
    case Stage::Done:
      break;
  }
  return TSshStatus::Done;
}

// A batch of names per pass: a folder of many thousands never holds the loop for long.
TSshStatus TSftpListing::Read() {
  for (int batch = 0; batch < 256; ++batch) {
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    const int n = libssh2_sftp_readdir_ex(handle_, name_, sizeof name_, nullptr, 0, &attrs);
    if (n == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    if (n < 0) return Fail(n);
    if (n == 0) {
      stage_ = Stage::Close;
      return TSshStatus::Progress;
    }
    nameBytes_ += static_cast<std::size_t>(n);
    if (entries_.size() >= kMaxEntries || nameBytes_ > kMaxNameBytes) return Fail(0);
    Take(name_, static_cast<std::size_t>(n), attrs);
  }
  return TSshStatus::Progress;
}

void TSftpListing::Take(const char* name, std::size_t length, const LIBSSH2_SFTP_ATTRIBUTES& attrs) {
  Entry entry;
  entry.Name.assign(name, length);
  if (entry.Name == "." || entry.Name == "..") return;
  TakeAttributes(attrs, entry.Folder, entry.Facts);
  entry.Link = (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) != 0 && S_ISLNK(attrs.permissions);
  entries_.push_back(std::move(entry));
}

// Each link is asked after with STAT, which follows it, one at a time.
TSshStatus TSftpListing::ResolveLinks() {
  for (; link_ < entries_.size(); ++link_) {
    Entry& entry = entries_[link_];
    if (!entry.Link) continue;
    const std::string path = RemotePath(folder_, entry.Name);
    LIBSSH2_SFTP_ATTRIBUTES attrs{};
    const int rc = libssh2_sftp_stat_ex(channel_.Handle(), path.c_str(), static_cast<unsigned>(path.size()),
                                        LIBSSH2_SFTP_STAT, &attrs);
    if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    if (rc == 0) {
      TakeAttributes(attrs, entry.Folder, entry.Facts);
    } else if (channel_.Classify(rc) == TSftpChannel::Failure::Refused) {
      entry.Facts = ListingFacts{};  // leads nowhere: a file of unknown size
    } else {
      return Fail(rc);
    }
  }
  stage_ = Stage::Done;
  return TSshStatus::Done;
}
