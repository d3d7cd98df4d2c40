#include "ui/DirectoryEntries.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

std::vector<std::string> VisibleEntries(const std::string& directory, bool (*wanted)(mode_t mode)) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
  while (dir) {
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    if (entry->d_name[0] == '.') continue;  // hidden, and "." and ".."
    // stat, not lstat: a link to a file or a directory counts as what it leads to.
    struct stat st {};
    if (::stat(JoinPath(directory, entry->d_name).c_str(), &st) == 0 && wanted(st.st_mode)) {
      names.emplace_back(entry->d_name);
    }
  }
  return names;
}
