#include "ui/LocalFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "ui/InOutError.h"

namespace {

[[noreturn]] void Fail(int errnum) {
  throw InOutError::FromErrno(errnum);
}

bool Unsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP || error == EPERM;
}

// Checked just before a plain rename: the best a file system without an atomic refusal
// allows.
void RenameIfAbsent(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) Fail(EEXIST);
  if (errno != ENOENT) Fail(errno);
  if (::rename(from.c_str(), to.c_str()) != 0) Fail(errno);
}

// A second name for the file, then the old name dropped: link() refuses an existing
// target, so nothing is ever replaced. For file systems without an atomic no-replace
// rename; those without hard links either get the checked rename.
void RenameByLink(const std::string& from, const std::string& to) {
  if (RenameCalls().link(from.c_str(), to.c_str()) != 0) {
    // EPERM is also how a file system says it has no hard links.
    if (Unsupported(errno)) {
      RenameIfAbsent(from, to);
      return;
    }
    Fail(errno);
  }
  if (::unlink(from.c_str()) != 0) {
    const int error = errno;
    ::unlink(to.c_str());  // back to the one name it had
    Fail(error);
  }
}

int SystemRenameNoReplace(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

}  // namespace

TRenameCalls& RenameCalls() {
  static TRenameCalls calls{SystemRenameNoReplace, ::link};
  return calls;
}

void RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (RenameCalls().renameNoReplace(from.c_str(), to.c_str()) == 0) return;
  // EINVAL: the file system does not know the flag; ENOSYS: neither does the kernel.
  if (errno == EINVAL || errno == ENOSYS) {
    RenameByLink(from, to);
    return;
  }
  Fail(errno);
}

void DeleteLocalFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) Fail(errno);
}

void MakeLocalDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) Fail(errno);
}

void RemoveLocalDirectory(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) Fail(errno);
}

std::string RenameTarget(const std::string& fileName, const std::string& typed) {
  const std::string name = typed.substr(typed.rfind('/') + 1);
  if (name.empty() || name == "." || name == "..") throw InOutError(kBadFileName);
  return fileName.substr(0, fileName.rfind('/') + 1) + name;
}

std::string ParentDirectory(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}
