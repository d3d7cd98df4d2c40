// One server program started by a test and stopped by process id, whatever the test's
// outcome.
//
// The program runs in a process group of its own (its process id is the group id), so
// that stopping it also ends the per-session processes a forking server made. The test
// process becomes a child subreaper (Linux), so those session processes are re-parented to
// it when their parent ends, and Stop() reaps every one of them: nothing is left running
// and no zombie is left for an init that may not reap.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/LoopbackSockets.h"

namespace talvo::test {

class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts argv (argv[0] is a path) with standard input from /dev/null and standard error
  // appended to `logPath`; standard output goes there too unless `captureStdout`, in
  // which case ReadStdoutLine reads it.
  bool Spawn(const std::vector<std::string>& argv, const std::string& logPath, bool captureStdout,
             std::string& error);

  // Reads one line of the captured standard output (without its LF) within `timeout`.
  bool ReadStdoutLine(std::string& line, Millis timeout, std::string& error);

  // Waits until 127.0.0.1:port accepts a connection, while the program still runs.
  bool WaitAccepting(std::uint16_t port, Millis timeout, std::string& error);

  bool Running();
  // SIGTERM to the group, SIGKILL after a bounded wait; reaps the group.
  void Stop();
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int exitStatus_ = 0;
  UniqueFd stdout_;
  std::string stdoutPending_;
};

// True when no process of the group `groupId` exists any more (zombies included).
bool ProcessGroupGone(pid_t groupId);

}  // namespace talvo::test
