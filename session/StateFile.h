// The user's state files (known servers, recent servers): read whole, changed under a lock
// by one process at a time, and replaced atomically, readable by their owner only.
//
// A change reads the file under an exclusive lock (flock on FILE.lock beside it), and
// writes it whole to a temporary file created exclusively in the same folder, never through
// a symbolic link, then renamed over the file. A file that exists but cannot be read is not
// an empty file: a change then leaves it as it is.
#pragma once

#include <string>

namespace talvo::state {

// How long a change waits for another process's change to end before it gives up.
constexpr int kLockWaitMs = 3000;

// The file's contents; false when it exists and cannot be read. A missing file is empty.
bool ReadWhole(const std::string& path, std::string& text);

// mkdir -p of the file's folder, each new folder for the owner only.
bool MakeFolderOf(const std::string& path);

// The exclusive lock of one read-change-write, held until destruction; Held() is false
// when the lock file cannot be opened or another process keeps the lock longer than
// `waitMs` (Busy() then tells the second case; 0 waits not at all).
class ChangeLock {
 public:
  ChangeLock(const std::string& path, int waitMs = kLockWaitMs);
  ~ChangeLock();
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  bool Held() const { return fd_ >= 0; }
  bool Busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
};

// Writes `text` to a new file beside `path` (mode 0600) and renames it over `path`. The
// caller holds the ChangeLock.
bool ReplaceFile(const std::string& path, const std::string& text);

// $XDG_CONFIG_HOME/talvo-ftp/NAME, or ~/.config/talvo-ftp/NAME; empty when neither
// variable is set.
std::string ConfigPath(const std::string& name);

}  // namespace talvo::state
