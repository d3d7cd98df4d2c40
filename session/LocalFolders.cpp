// The local side of a folder transfer: the scan of an upload, which reads the folders on
// the disk at once (links followed, as a file manager shows them, as long as they stay in
// the chosen folder), and the folders a download makes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "session/FolderTransfer.h"
#include "session/LocalNames.h"

namespace {

// The names in a folder, sorted; false when it cannot be read.
bool ReadFolder(const std::string& path, std::vector<std::string>& names) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) return false;
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (errno != 0) return false;
  std::sort(names.begin(), names.end());
  return true;
}

// The path with every link resolved; empty when it cannot be.
std::string Resolved(const std::string& path) {
  const std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool Inside(const std::string& path, const std::string& folder) {
  return path == folder || path.starts_with(folder == "/" ? folder : folder + "/");
}

// A folder on the local disk, whichever path leads to it.
std::uint64_t IdentityOf(const struct stat& st) {
  return (static_cast<std::uint64_t>(st.st_dev) << 40) ^ static_cast<std::uint64_t>(st.st_ino) ^ 1;
}

}  // namespace

int MakeLocalFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  if (errno != EEXIST) return errno;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno;
  // Another user's link (planted in a shared folder) is never followed to write.
  if (S_ISLNK(st.st_mode) && st.st_uid != ::geteuid()) return EPERM;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Depth first, each folder before the folders inside it. Only plain files and folders go;
// sockets, pipes, devices and links to nothing are left out and named.
void TFolderTransfer::ScanLocal() {
  for (const Top& top : tops_) {
    const std::string chosen = Resolved(top.Local);
    struct stat topStat {};
    const std::uint64_t topIdentity = ::stat(top.Local.c_str(), &topStat) == 0 ? IdentityOf(topStat) : 0;
    pending_.push_back({-1, top.Remote, top.Local, 1, topIdentity});
    while (!pending_.empty()) {
      const Pending next = pending_.back();
      pending_.pop_back();
      const std::size_t index = folders_.size();
      folders_.push_back({next.Name, {}, next.Local, next.Parent, next.Depth, {}, next.Identity});
      std::vector<std::string> names;
      if (!ReadFolder(next.Local, names)) {
        End(Outcome::FolderUnreadable, next.Local);
        return;
      }
      std::vector<Pending> children;
      for (const std::string& name : names) {
        const std::string path = JoinPath(next.Local, name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && !Inside(Resolved(path), chosen)) {
          const bool leads = ::stat(path.c_str(), &st) == 0;
          skipped_.push_back({path, leads ? SkipReason::LinkLeaves : SkipReason::NotPlain});
          continue;  // leads out of the chosen folder (or nowhere)
        }
        if (::stat(path.c_str(), &st) != 0) {
          if (errno != ENOENT) skipped_.push_back({path, SkipReason::NotPlain});
          continue;  // gone since the folder was read
        }
        if (S_ISREG(st.st_mode)) {
          ListingFacts facts;
          facts.Size = static_cast<std::int64_t>(st.st_size);
          AddFile(index, name, facts);
        } else if (S_ISDIR(st.st_mode)) {
          if (LeadsBackUp(static_cast<int>(index), IdentityOf(st), {})) {
            skipped_.push_back({path, SkipReason::Loop});
            continue;
          }
          if (next.Depth >= kMaxDepth) {
            End(Outcome::TooDeep, TopNameOf(index));
            return;
          }
          children.push_back({static_cast<int>(index), name, path, next.Depth + 1, IdentityOf(st)});
        } else {
          skipped_.push_back({path, SkipReason::NotPlain});
        }
      }
      pending_.insert(pending_.end(), children.rbegin(), children.rend());
    }
  }
  phase_ = Phase::Scanned;
  if (OnScanned) OnScanned();
}
