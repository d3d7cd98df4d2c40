// A throw-away directory under /tmp for one test or one server, removed with everything
// in it when the object goes. Helpers make the files a test needs: given contents, the
// test pattern of a given size, sparse files (2 GiB + 1 byte costs no disk), directories,
// symbolic links; parent directories are made as needed. A helper that fails reports a
// test failure and returns false.
//
// Directory names carry the process id ("talvo-test-LABEL-PID-XXXXXX"), so that trees left by
// a crashed run are found and removed by the next run once their process is gone.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::test {

class TempTree {
 public:
  explicit TempTree(std::string_view label = "tree");
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  bool Valid() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  // The absolute path of `relative` inside the tree ("" is the tree itself).
  std::string PathOf(std::string_view relative) const;

  // The tree and every entry made from now on belong to uid:gid, and directories made
  // inside get `directoryMode` (servers that drop privileges need this to write).
  bool SetOwner(uid_t uid, gid_t gid, mode_t directoryMode = 0755);

  bool WriteFile(std::string_view relative, std::string_view contents);
  bool WritePatternFile(std::string_view relative, std::uint64_t size);  // see TestPattern.h
  bool WriteSparseFile(std::string_view relative, std::uint64_t size);   // all zero bytes
  bool MakeDirectory(std::string_view relative);
  bool MakeSymlink(std::string_view relative, std::string_view target);

  std::string ReadFile(std::string_view relative) const;  // empty when missing
  bool Exists(std::string_view relative) const;           // also a dangling link
  std::optional<std::uint64_t> FileSize(std::string_view relative) const;

 private:
  bool MakeParents(std::string_view relative);
  bool Adopt(const std::string& path);  // applies the owner, if one was set
  bool Report(const std::string& what, const std::string& path);

  std::string path_;
  std::optional<uid_t> uid_;
  gid_t gid_ = 0;
  mode_t directoryMode_ = 0755;
};

// Removes a directory tree (does not follow symbolic links). True when it is gone.
bool RemoveTree(const std::string& path);

}  // namespace talvo::test
