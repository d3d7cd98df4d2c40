// The local side of a folder transfer: the scan of an upload, which reads the folders on
// the disk at once (links followed, as a file manager shows them), and the folders a
// download makes.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
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

}  // namespace

bool MakeLocalFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  struct stat st {};
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Depth first, each folder before the folders inside it. Only plain files and folders go;
// sockets, pipes and devices are left out.
void TFolderTransfer::ScanLocal() {
  for (const Top& top : tops_) {
    pending_.push_back({-1, top.Remote, top.Local, 1});
    while (!pending_.empty()) {
      const Pending next = pending_.back();
      pending_.pop_back();
      const std::size_t index = folders_.size();
      folders_.push_back({next.Name, {}, next.Local, next.Parent, next.Depth, {}});
      std::vector<std::string> names;
      if (!ReadFolder(next.Local, names)) {
        End(Outcome::FolderUnreadable, next.Local);
        return;
      }
      std::vector<Pending> children;
      for (const std::string& name : names) {
        const std::string path = JoinPath(next.Local, name);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;  // a dangling link
        if (S_ISREG(st.st_mode)) {
          AddFile(index, name, static_cast<std::int64_t>(st.st_size));
        } else if (S_ISDIR(st.st_mode)) {
          if (next.Depth >= kMaxDepth) {
            End(Outcome::TooDeep, TopNameOf(index));
            return;
          }
          children.push_back({static_cast<int>(index), name, path, next.Depth + 1});
        }
      }
      pending_.insert(pending_.end(), children.rbegin(), children.rend());
    }
  }
  phase_ = Phase::Scanned;
  if (OnScanned) OnScanned();
}
