// TDriveComboBox: the mounted file systems of the computer, the root first, then the
// user's home, then the others (pseudo file systems such as proc or sysfs left out).
// Picking one makes the bound directory tree show it.
#pragma once

#include <QComboBox>
#include <string>
#include <vector>

class TDirectoryListBox;

class TDriveComboBox : public QComboBox {
 public:
  explicit TDriveComboBox(QWidget* parent = nullptr);

  void SetDirList(TDirectoryListBox* tree) { dirList_ = tree; }
  // Re-reads the mounted file systems.
  void Refresh();
  // The drive that holds `path`: the longest listed mount point that contains it.
  std::string DriveOf(const std::string& path) const;
  const std::string& Drive() const { return drive_; }
  // Selects the drive without moving the tree when it is already the current one.
  void SetDrive(const std::string& drive);

 private:
  void Picked(int index);

  TDirectoryListBox* dirList_ = nullptr;
  std::vector<std::string> drives_;
  std::string drive_;
};
