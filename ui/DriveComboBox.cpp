#include "ui/DriveComboBox.h"

#include <mntent.h>

#include <QDir>
#include <algorithm>
#include <set>

#include "ui/DirectoryListBox.h"
#include "ui/TextCodec.h"

namespace {

bool IsPseudoFileSystem(const std::string& type) {
  static const std::set<std::string> kPseudo = {
      "proc", "sysfs", "devpts", "tmpfs", "devtmpfs", "cgroup", "cgroup2", "securityfs", "pstore", "debugfs",
      "tracefs", "configfs", "fusectl", "mqueue", "hugetlbfs", "bpf", "binfmt_misc", "autofs", "rpc_pipefs",
      "nsfs", "efivarfs", "selinuxfs", "overlay", "squashfs", "ramfs"};
  return kPseudo.count(type) > 0;
}

bool Contains(const std::string& mount, const std::string& path) {
  if (mount == "/") return true;
  return path == mount || (path.size() > mount.size() && path.compare(0, mount.size(), mount) == 0 &&
                           path[mount.size()] == '/');
}

}  // namespace

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  Refresh();
  connect(this, &QComboBox::activated, this, &TDriveComboBox::Picked);
}

void TDriveComboBox::Refresh() {
  std::vector<std::string> others;
  if (FILE* mounts = ::setmntent("/proc/self/mounts", "r")) {
    while (const mntent* entry = ::getmntent(mounts)) {
      const std::string dir = entry->mnt_dir;
      if (dir == "/" || IsPseudoFileSystem(entry->mnt_type)) continue;
      if (std::find(others.begin(), others.end(), dir) == others.end()) others.push_back(dir);
    }
    ::endmntent(mounts);
  }
  drives_ = {"/"};
  const std::string home = QDir::homePath().toStdString();
  if (home != "/") drives_.push_back(home);
  for (const std::string& dir : others) {
    if (std::find(drives_.begin(), drives_.end(), dir) == drives_.end()) drives_.push_back(dir);
  }
  clear();
  for (const std::string& drive : drives_) addItem(DisplayText(drive));
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
  if (it == drives_.end()) return;
  setCurrentIndex(static_cast<int>(it - drives_.begin()));
  if (drive == drive_) return;
  drive_ = drive;
  if (dirList_ != nullptr) dirList_->SetDirectory(drive);
}

void TDriveComboBox::Picked(int index) {
  if (index < 0 || index >= static_cast<int>(drives_.size())) return;
  drive_.clear();
  SetDrive(drives_[static_cast<std::size_t>(index)]);
}
