#include "tests/support/FtpEventLog.h"

#include <algorithm>

#include "platform/MessageLoop.h"

namespace talvo::test {

FtpEventLog::FtpEventLog(TVelaFtp& ftp) { Bind(ftp); }

FtpEventLog::FtpEventLog(TVelaSftp& sftp) { Bind(sftp); }

template <typename Component>
void FtpEventLog::Bind(Component& ftp) {
  ftp.OnFtpInfo = [this](TObject*, FtpInfo info, std::string addinfo) {
    Add(std::string(SessionInfoName(info)) + ":" + addinfo);
  };
  ftp.OnFtpError = [this](TObject*, FtpError error, std::string addinfo) {
    Add(std::string(SessionErrorName(error)) + ":" + addinfo);
  };
  ftp.OnFtpNeedInfo = [this, &ftp](TObject*, TFtpInfoNeeded need, std::string& value) {
    Add(std::string("need ") + SessionInfoNeededName(need));
    if (const auto it = Answers.find(need); it != Answers.end()) value = it->second;
    if constexpr (requires { ftp.InfoRequestCancelled; }) {
      if (Cancelled == need) ftp.InfoRequestCancelled = true;
    }
  };
  const auto note = [this](const char* word) { return [this, word](TObject*) { Add(word); }; };
  ftp.OnFtpReady = note("ready");
  ftp.OnFtpQuit = note("quit");
  ftp.OnLoggedIn = note("loggedIn");
  ftp.OnDirectoryChanged = note("directoryChanged");
  ftp.OnDirectoryCreated = note("directoryCreated");
  ftp.OnDirectoryDeleted = note("directoryDeleted");
  ftp.OnFileDeleted = note("fileDeleted");
  ftp.OnFileReceived = note("fileReceived");
  ftp.OnFileStored = note("fileStored");
  ftp.OnListingDone = note("listingDone");
  ftp.OnFileRenamed = note("fileRenamed");
}

std::vector<std::string> FtpEventLog::Events() const {
  std::vector<std::string> events;
  for (const std::string& line : lines_) {
    if (line.starts_with("ftpiReceived:") || line.starts_with("ftpiSent:")) continue;
    events.push_back(line);
  }
  return events;
}

int FtpEventLog::Count(const std::string& line) const {
  return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
}

int FtpEventLog::CountPrefix(const std::string& prefix) const {
  return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
                                        [&prefix](const std::string& l) { return l.starts_with(prefix); }));
}

bool RunUntilLogged(const FtpEventLog& log, const std::function<void()>& start, const std::string& completion,
                    int timeoutMs) {
  const int before = log.Count(completion);
  const int quitsBefore = log.Count("quit");
  start();
  platform::MessageLoop::Current().RunUntil(
      [&] { return log.Count(completion) > before || log.Count("quit") > quitsBefore; }, timeoutMs);
  return log.Count(completion) > before;
}

}  // namespace talvo::test
