#include "ui/DriveComboBox.h"

#include <mntent.h>
#include <sys/stat.h>

#include <QDir>
#include <algorithm>
#include <exception>
#include <set>

#include "ui/Dialogs.h"
#include "ui/DirectoryListBox.h"
#include "ui/TextCodec.h"

namespace {

bool IsPseudoFileSystem(const std::string& type) {
  static const std::set<std::string> kPseudo = {
      "proc", "sysfs", "devpts", "tmpfs", "devtmpfs", "cgroup", "cgroup2", "securityfs", "pstore", "debugfs",
      "tracefs", "configfs", "fusectl", "mqueue", "hugetlbfs", "bpf", "binfmt_misc", "autofs", "rpc_pipefs",
      "nsfs", "efivarfs", "selinuxfs", "overlay", "squashfs", "ramfs", "fuse.gvfsd-fuse", "fuse.portal"};
  return kPseudo.count(type) > 0;
}

bool Contains(const std::string& mount, const std::string& path) {
  if (mount == "/") return true;
  return path == mount || (path.size() > mount.size() && path.compare(0, mount.size(), mount) == 0 &&
                           path[mount.size()] == '/');
}

bool IsSystemPlace(const std::string& directory) {
  if (Contains("/run/media", directory)) return false;
  return Contains("/proc", directory) || Contains("/sys", directory) || Contains("/dev", directory) ||
         Contains("/run", directory);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<TMountPoint> ReadMountTable() {
  std::vector<TMountPoint> mounts;
  if (FILE* table = ::setmntent("/proc/self/mounts", "r")) {
    while (const mntent* entry = ::getmntent(table)) mounts.push_back({entry->mnt_dir, entry->mnt_type});
    ::endmntent(table);
  }
  return mounts;
}

}  // namespace

std::vector<std::string> DrivesOf(const std::vector<TMountPoint>& mounts, const std::string& home) {
  std::vector<std::string> drives{"/"};
  if (!home.empty() && home != "/") drives.push_back(home);
  for (const TMountPoint& mount : mounts) {
    if (IsPseudoFileSystem(mount.Type) || IsSystemPlace(mount.Directory)) continue;
    if (std::find(drives.begin(), drives.end(), mount.Directory) == drives.end()) drives.push_back(mount.Directory);
  }
  return drives;
}

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  Refresh();
  connect(this, &QComboBox::activated, this, &TDriveComboBox::Picked);
}

void TDriveComboBox::SetDirList(TDirectoryListBox* tree) {
  dirList_ = tree;
  if (tree != nullptr) tree->SetDirectoryShown([this](const std::string& directory) { ShowDriveOf(directory); });
}

void TDriveComboBox::Refresh() {
  std::vector<TMountPoint> mounts = ReadMountTable();
  // Bind mounts of single files (containers mount /etc/hosts so) are no drives.
  std::erase_if(mounts, [](const TMountPoint& mount) { return !IsDirectory(mount.Directory); });
  drives_ = DrivesOf(mounts, QDir::homePath().toStdString());
  clear();
  for (const std::string& drive : drives_) addItem(DisplayText(drive));
  const auto shown = std::find(drives_.begin(), drives_.end(), drive_);
  setCurrentIndex(shown == drives_.end() ? -1 : static_cast<int>(shown - drives_.begin()));
}

std::string TDriveComboBox::DriveOf(const std::string& path) const {
  std::string best = "/";
  for (const std::string& drive : drives_) {
    if (Contains(drive, path) && drive.size() > best.size()) best = drive;
  }
  return best;
}

void TDriveComboBox::SetDrive(const std::string& drive) {
  const auto it = std::find(drives_.begin(), drives_.end(), drive);
  if (it == drives_.end() || drive == drive_) return;
  if (dirList_ != nullptr) dirList_->SetDirectory(drive);  // follows with ShowDriveOf
  drive_ = drive;
  setCurrentIndex(static_cast<int>(it - drives_.begin()));
}

void TDriveComboBox::ShowDriveOf(const std::string& path) {
  drive_ = DriveOf(path);
  const auto it = std::find(drives_.begin(), drives_.end(), drive_);
  setCurrentIndex(it == drives_.end() ? -1 : static_cast<int>(it - drives_.begin()));
}

void TDriveComboBox::showPopup() {
  Refresh();
  QComboBox::showPopup();
}

void TDriveComboBox::Picked(int index) {
  if (index < 0 || index >= static_cast<int>(drives_.size())) return;
  const std::string picked = drives_[static_cast<std::size_t>(index)];
  // Picking re-reads the tree even when the drive is the one shown. A drive that cannot be
  // entered is reported, and the selector goes back to the drive the tree is on.
  drive_.clear();
  try {
    SetDrive(picked);
  } catch (const std::exception& e) {
    if (dirList_ != nullptr) ShowDriveOf(dirList_->Directory());
    ShowApplicationError(window(), DisplayText(e.what()));
  }
}
