#include "ui/FileListBox.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "ui/NameOrder.h"
#include "ui/TextCodec.h"

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
    names = VisibleEntries(directory_, [](mode_t mode) { return S_ISREG(mode); });
    std::erase_if(names, [this](const std::string& name) { return !MatchesMask(mask_, name.c_str()); });
    SortNames(names);
  }
  Assign(std::move(names));
  setToolTip(DisplayText(directory_));
}
