#include "ui/DirectoryListBox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QKeyEvent>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>

#include "ui/Dialogs.h"
#include "ui/FileListBox.h"
#include "ui/InOutError.h"
#include "ui/NameOrder.h"
#include "ui/TextCodec.h"

namespace {

std::vector<std::string> SubDirectories(const std::string& directory) {
  std::vector<std::string> names = VisibleEntries(directory, [](mode_t mode) { return S_ISDIR(mode); });
  SortNames(names);
  return names;
}

}  // namespace

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : TListBox(parent) {
  SetItemHeight(16);
  connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) { OpenRow(index.row()); });
}

void TDirectoryListBox::SetDirectory(const std::string& directory) {
  char* resolved = ::realpath(directory.c_str(), nullptr);
  if (resolved == nullptr) throw InOutError::FromErrno(errno);
  std::string path(resolved);
  std::free(resolved);
  if (::chdir(path.c_str()) != 0) throw InOutError::FromErrno(errno);
  directory_ = path;

  std::vector<std::string> rows{"/"};
  paths_ = {"/"};
  std::size_t depth = 0;
  for (std::size_t start = 1; start < path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    ++depth;
    rows.push_back(std::string(depth * 2, ' ') + path.substr(start, end - start));
    paths_.push_back(path.substr(0, end));
    start = end + 1;
  }
  currentRow_ = static_cast<int>(rows.size()) - 1;
  for (const std::string& name : SubDirectories(path)) {
    rows.push_back(std::string((depth + 1) * 2, ' ') + name);
    paths_.push_back(JoinPath(path, name));
  }
  Assign(std::move(rows));
  SetItemIndex(currentRow_);
  setToolTip(DisplayText(directory_));  // the whole path, wider than the list
  if (fileList_ != nullptr) fileList_->SetDirectory(directory_);
  if (directoryShown_) directoryShown_(directory_);
}

std::string TDirectoryListBox::HighlightedSubDirectory() const {
  const int row = ItemIndex();
  return row > currentRow_ && row < Count() ? PathOf(row) : std::string();
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
    OpenRow(currentIndex().row());
    return;
  }
  TListBox::keyPressEvent(event);
}

void TDirectoryListBox::OpenRow(int row) {
  if (row < 0 || row >= Count()) return;
  // Opening is the control's own doing, not a handler of the window's: its failure goes to
  // the application's error box from here, and never into Qt.
  try {
    SetDirectory(PathOf(row));
  } catch (const std::exception& e) {
    ShowApplicationError(window(), DisplayText(e.what()));
  }
}
