// One server program started by a test and stopped by process id, whatever the test's
// outcome.
//
// A forking server's session processes may start sessions of their own (vsftpd does), so
// a process group is not enough to find them: Stop() signals the program and every
// process descended from it (found in /proc), and waits for each to be gone. The test
// process makes itself a child subreaper (Linux), so that orphaned session processes are
// re-parented to it rather than to an init that may never reap them, and Stop() reaps
// them, together with the program's earlier zombies: nothing is left running, no zombie
// is left behind. Should the test process die without its destructors (a crash), the
// program gets SIGKILL from the kernel (parent-death signal; it is tied to the thread that
// started the program, so start servers from the test's own thread), and the next run
// removes the temporary files and PAM service left behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/LoopbackSockets.h"

namespace talvo::test {

class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts argv (argv[0] is a path) with standard input from /dev/null (from a pipe that
  // WriteStdin fills when `pipeStdin`) and standard error appended to `logPath`; standard
  // output goes there too unless `captureStdout`, in which case ReadStdoutLine and
  // ReadStdout read it.
  bool Spawn(const std::vector<std::string>& argv, const std::string& logPath, bool captureStdout,
             std::string& error, bool pipeStdin = false);

  // Reads one line of the captured standard output (without its LF) within `timeout`.
  bool ReadStdoutLine(std::string& line, Millis timeout, std::string& error);
  // Reads exactly `size` bytes of the captured standard output within `timeout`.
  bool ReadStdout(std::size_t size, std::string& data, Millis timeout, std::string& error);
  // Reads the captured standard output until the program closes it, within `timeout`.
  bool ReadStdoutToEnd(std::string& data, Millis timeout, std::string& error);
  // Writes all of `data` to the program's standard input within `timeout` (SIGPIPE must be
  // ignored by the caller's process); CloseStdin gives the program end of file.
  bool WriteStdin(std::string_view data, Millis timeout, std::string& error);
  void CloseStdin() { stdin_.Reset(); }

  // Waits until host:port accepts a connection, while the program still runs.
  bool WaitAccepting(std::uint16_t port, Millis timeout, std::string& error,
                     const std::string& host = "127.0.0.1");

  bool Running();
  // Waits up to `timeout` for the program to end; then ExitStatus() is its wait status.
  bool WaitExited(Millis timeout);
  int ExitStatus() const { return exitStatus_; }
  // SIGTERM to the group, SIGKILL after a bounded wait; reaps the group.
  void Stop();
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string programName_;  // as /proc shows it, to recognise orphaned session processes
  bool exited_ = false;
  int exitStatus_ = 0;
  UniqueFd stdout_;
  std::string stdoutPending_;
  UniqueFd stdin_;
};

// Runs a short command to its end within `timeout`, standard error appended to `logPath`
// and standard output into `output` (to the log when null). Its exit code, or -1 with
// `error` when it could not start, did not end in time (it is then stopped) or was killed.
int RunCommand(const std::vector<std::string>& argv, const std::string& logPath, Millis timeout,
               std::string* output, std::string& error);

// True when the process no longer exists (a zombie still exists).
bool ProcessGone(pid_t pid);

// The processes whose chain of parents leads to `ancestor`, from /proc.
std::vector<pid_t> DescendantsOf(pid_t ancestor);

}  // namespace talvo::test
