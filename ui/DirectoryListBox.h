// TDirectoryListBox: the local directory tree, one row per level from the root down to the
// current directory (indented by depth), then the current directory's sub-directories in
// name order. Its tool tip is the current directory's whole path.
// A double click or Enter opens a row: it becomes the current directory, the bound file
// list reads it, and it becomes the process's current directory. A single click only
// highlights a row. A directory that cannot be opened is reported in the application's
// error box and changes nothing.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/ListBox.h"

class TFileListBox;

class TDirectoryListBox : public TListBox {
 public:
  explicit TDirectoryListBox(QWidget* parent = nullptr);

  void SetFileList(TFileListBox* files) { fileList_ = files; }
  // Told each directory made current (the drive selector shows its drive): the tree does
  // not know who listens.
  void SetDirectoryShown(std::function<void(const std::string&)> shown) { directoryShown_ = std::move(shown); }
  const std::string& Directory() const { return directory_; }
  // Makes `directory` current: the tree is rebuilt, the file list follows and the process
  // changes into it. A directory that cannot be entered throws InOutError and leaves
  // everything as it was.
  void SetDirectory(const std::string& directory);
  // The full path of a row.
  const std::string& PathOf(int row) const { return paths_[static_cast<std::size_t>(row)]; }
  // The path of the sub-directory whose row is highlighted (clicked once, not opened);
  // empty when the highlighted row is the current directory or one above it.
  std::string HighlightedSubDirectory() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OpenRow(int row);

  TFileListBox* fileList_ = nullptr;
  std::function<void(const std::string&)> directoryShown_;
  std::string directory_;
  std::vector<std::string> paths_;
  int currentRow_ = -1;
};
