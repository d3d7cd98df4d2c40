#include "session/RemotePlace.h"

#include "session/LocalNames.h"

namespace {

// `path` below `home` in the "~" form; empty when it is not below it.
std::string FromHome(const std::string& path, const std::string& home) {
  if (home.empty()) return {};
  if (path == home) return "~";
  const std::string prefix = home.ends_with('/') ? home : home + "/";
  return path.starts_with(prefix) ? "~/" + path.substr(prefix.size()) : std::string();
}

}  // namespace

void TRemotePlace::LoggedIn() {
  absolute_.clear();
  home_.clear();
  login_.assign(1, '~');  // not = "~": GCC 12 at -O3 sees a false overlap there
}

void TRemotePlace::Lost() {
  absolute_.clear();
  login_.clear();
  home_.clear();
}

void TRemotePlace::Entered(const std::string& directory) {
  if (directory.starts_with('/')) {
    absolute_ = directory;
    login_ = FromHome(directory, home_);
    return;
  }
  if (!absolute_.empty()) absolute_ = JoinPath(absolute_, directory);
  if (!login_.empty()) login_ = JoinPath(login_, directory);
}

void TRemotePlace::Printed(const std::string& path) {
  if (!path.starts_with('/')) return;
  absolute_ = path;
  if (login_ == "~") home_ = path;
  if (login_.empty()) login_ = FromHome(path, home_);
}

std::string TRemotePlace::AbsolutePathOf(const std::string& name) const {
  if (name.starts_with('/')) return name;
  return absolute_.empty() ? std::string() : JoinPath(absolute_, name);
}

std::string TRemotePlace::LoginPathOf(const std::string& name) const {
  if (name.starts_with('/')) return FromHome(name, home_);
  return login_.empty() ? std::string() : JoinPath(login_, name);
}
