// TDriveComboBox: the "drives" of the computer, which on Linux are the mounted file
// systems: the root first, then the user's home, then the other mount points in the order
// the system lists them. Left out: pseudo file systems (proc, sysfs, tmpfs, cgroup...),
// the system's own places (/proc, /sys, /dev, /run except removable media under
// /run/media), and mount points that are not directories. The list is read again each time
// it drops down, so a medium plugged in meanwhile shows. Picking a drive makes the bound
// directory tree show it; the tree moving elsewhere makes the selector show the drive that
// holds its directory.
#pragma once

#include <QComboBox>
#include <string>
#include <vector>

class TDirectoryListBox;

// One line of the system's mount table.
struct TMountPoint {
  std::string Directory;
  std::string Type;
};

// The drives for a mount table, by the rules above (whether each mount point is a
// directory is the caller's to check).
std::vector<std::string> DrivesOf(const std::vector<TMountPoint>& mounts, const std::string& home);

class TDriveComboBox : public QComboBox {
 public:
  explicit TDriveComboBox(QWidget* parent = nullptr);

  void SetDirList(TDirectoryListBox* tree);
  // Re-reads the mounted file systems; the drive shown stays when it is still there.
  void Refresh();
  const std::vector<std::string>& Drives() const { return drives_; }
  // The drive that holds `path`: the longest listed mount point that contains it.
  std::string DriveOf(const std::string& path) const;
  const std::string& Drive() const { return drive_; }
  // Selects the drive and moves the tree to it, unless it is already the current one.
  void SetDrive(const std::string& drive);
  // Shows the drive of `path` without moving the tree.
  void ShowDriveOf(const std::string& path);

  void showPopup() override;

 private:
  void Picked(int index);

  TDirectoryListBox* dirList_ = nullptr;
  std::vector<std::string> drives_;
  std::string drive_;
};
