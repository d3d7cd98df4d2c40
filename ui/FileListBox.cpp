#include "ui/FileListBox.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

namespace {

// "*.*" is the mask of every file, as on the platform the window was designed on, where
// it also matches names without a dot.
bool MatchesMask(const std::string& mask, const char* name) {
  if (mask == "*.*" || mask == "*") return true;
  if (mask.empty()) return false;
  return fnmatch(mask.c_str(), name, 0) == 0;
}

}  // namespace

TFileListBox::TFileListBox(QWidget* parent) : TListBox(parent) {
  SetItemHeight(13);
}

void TFileListBox::SetDirectory(const std::string& directory) {
  directory_ = directory;
  Update();
}

void TFileListBox::SetMask(const std::string& mask) {
  if (mask == mask_) return;
  mask_ = mask;
  Update();
}

std::string TFileListBox::FileName() const {
  const int row = ItemIndex();
  if (row < 0 || !Selected(row)) return "";
  return JoinPath(directory_, Item(row));
}

void TFileListBox::Update() {
  std::vector<std::string> names;
  if (!directory_.empty() && ::chdir(directory_.c_str()) == 0) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir("."), ::closedir);
    while (dir) {
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) break;
      if (entry->d_name[0] == '.') continue;  // hidden, and "." and ".."
      struct stat st {};
      if (::stat(entry->d_name, &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (MatchesMask(mask_, entry->d_name)) names.emplace_back(entry->d_name);
    }
  }
  Assign(std::move(names));
}
