// TFileListBox: the ordinary files of one local directory that match the mask, in name
// order (no directories, no hidden files, no sockets or devices); its tool tip is the
// directory's whole path. Reading the list also makes its directory the process's current directory, so
// bare names from the list are found relative to it. Multi-selection with a focused row.
#pragma once

#include <string>

#include "ui/DirectoryEntries.h"
#include "ui/ListBox.h"

class TFileListBox : public TListBox {
 public:
  explicit TFileListBox(QWidget* parent = nullptr);

  const std::string& Directory() const { return directory_; }
  void SetDirectory(const std::string& directory);
  const std::string& Mask() const { return mask_; }
  // A change of mask reads the directory again.
  void SetMask(const std::string& mask);
  // The full path of the focused row when that row is also selected; empty otherwise.
  std::string FileName() const;
  // Reads the directory again.
  void Update();

 private:
  std::string directory_;
  std::string mask_ = "*.*";
};
