// Records every event of a TVelaFtp (or a TVelaSftp) as one line of text, in the order they fire, so that a
// test can compare a whole sequence: "ftpiDisconnected:" (info name, colon, addinfo),
// "ftpeNoServer:Error", "need ftpnServer", "ready", "quit", and one word per completion
// event ("loggedIn", "directoryChanged", ...). It also answers OnFtpNeedInfo from a table,
// or cancels it.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ftp/Ftp.h"
#include "sftp/Sftp.h"

namespace talvo::test {

class FtpEventLog {
 public:
  // Binds every event of `ftp`; the log must not outlive it.
  explicit FtpEventLog(TVelaFtp& ftp);
  explicit FtpEventLog(TVelaSftp& sftp);

  const std::vector<std::string>& Lines() const { return lines_; }
  // The lines without ftpiReceived and ftpiSent, which depend on how the server's text
  // happened to be cut.
  std::vector<std::string> Events() const;
  int Count(const std::string& line) const;
  int CountPrefix(const std::string& prefix) const;
  void Clear() { lines_.clear(); }

  // What OnFtpNeedInfo writes for a need; a need without an answer leaves the value alone.
  std::map<TFtpInfoNeeded, std::string> Answers;
  // A need that OnFtpNeedInfo cancels, as a user's "Annuler" does.
  std::optional<TFtpInfoNeeded> Cancelled;

 private:
  template <typename Component>
  void Bind(Component& component);
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  std::vector<std::string> lines_;
};

// Calls start, then runs the loop until `completion` (a word of the log, such as
// "fileReceived") has come once more, or the session ended ("quit"), or timeoutMs passed;
// true when the completion came.
bool RunUntilLogged(const FtpEventLog& log, const std::function<void()>& start, const std::string& completion,
                    int timeoutMs);

}  // namespace talvo::test
