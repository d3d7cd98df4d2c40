// Where the server's current folder is, as far as the session knows: its absolute path
// (from PWD, or from absolute CWDs), and its path from the folder the login leads to
// ("~", the same at every login of a user). Either may be unknown. A file's path in both
// forms is what a part records of where it came from, so that a later session that knows
// only one form still finds its parts.
#pragma once

#include <string>

class TRemotePlace {
 public:
  // Just logged in, in the login's folder.
  void LoggedIn();
  // Gone somewhere not known (a refused or failed change of folder, a new connection).
  void Lost();
  // The server took a change of folder to `directory` (absolute, or relative to here).
  void Entered(const std::string& directory);
  // PWD said where the server is (an absolute path, else nothing is learnt).
  void Printed(const std::string& path);

  // `name` (absolute, or relative to here) in both forms; empty where not known.
  std::string AbsolutePathOf(const std::string& name) const;
  std::string LoginPathOf(const std::string& name) const;

  const std::string& Absolute() const { return absolute_; }

 private:
  std::string absolute_;  // empty: not known
  std::string login_;     // "~" or "~/..."; empty: not known
  std::string home_;      // the absolute path of "~"; empty: not known
};
