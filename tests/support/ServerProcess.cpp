#include "tests/support/ServerProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace talvo::test {

namespace {

constexpr Millis kTermGrace{3000};
constexpr Millis kKillGrace{3000};

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

struct ProcessInfo {
  pid_t pid = 0;
  pid_t parent = 0;
  char state = '?';
  std::string name;
};

// Every process, from /proc/PID/stat: "PID (NAME) STATE PPID ...".
std::vector<ProcessInfo> AllProcesses() {
  std::vector<ProcessInfo> processes;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return processes;
  while (const dirent* entry = ::readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
    if (pid <= 0) continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string text;
    if (!std::getline(stat, text)) continue;
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 >= text.size()) continue;
    ProcessInfo info;
    info.pid = pid;
    info.name = text.substr(open + 1, close - open - 1);
    info.state = text[close + 2];
    info.parent = static_cast<pid_t>(std::strtol(text.c_str() + close + 4, nullptr, 10));
    processes.push_back(info);
  }
  ::closedir(proc);
  return processes;
}

// Waits until every process of `pids` is gone, reaping those that became children of
// this process. Leaves in `pids` those still there at the deadline.
bool ReapWithin(std::vector<pid_t>& pids, Millis limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    std::erase_if(pids, [](pid_t pid) {
      int status = 0;
      return ::waitpid(pid, &status, WNOHANG) == pid || ProcessGone(pid);
    });
    if (pids.empty()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Millis(10));
  }
}

void Signal(const std::vector<pid_t>& pids, int signal) {
  for (const pid_t pid : pids) ::kill(pid, signal);
}

}  // namespace

bool ProcessGone(pid_t pid) { return ::kill(pid, 0) == -1 && errno == ESRCH; }

std::vector<pid_t> DescendantsOf(pid_t ancestor) {
  const std::vector<ProcessInfo> processes = AllProcesses();
  std::vector<pid_t> found = {ancestor};
  // Each pass adds the children of what was found; a chain is short.
  for (std::size_t known = 0; known != found.size();) {
    known = found.size();
    for (const auto& process : processes) {
      if (std::find(found.begin(), found.end(), process.parent) != found.end() &&
          std::find(found.begin(), found.end(), process.pid) == found.end()) {
        found.push_back(process.pid);
      }
    }
  }
  found.erase(found.begin());
  return found;
}

bool ServerProcess::Spawn(const std::vector<std::string>& argv, const std::string& logPath,
                          bool captureStdout, std::string& error, bool pipeStdin) {
  Stop();
  // Session processes of a forking server must come back to this process to be reaped.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);

  int outPipe[2] = {-1, -1};
  int inPipe[2] = {-1, -1};
  int execPipe[2] = {-1, -1};  // carries errno when exec fails; closed by a successful exec
  if ((captureStdout && ::pipe2(outPipe, O_CLOEXEC) != 0) || (pipeStdin && ::pipe2(inPipe, O_CLOEXEC) != 0) ||
      ::pipe2(execPipe, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]), execRead(execPipe[0]), execWrite(execPipe[1]);
  UniqueFd inRead(inPipe[0]), inWrite(inPipe[1]);
  UniqueFd log(::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!log.Valid() || !devNull.Valid()) {
    error = "cannot open " + logPath + " or /dev/null: " + std::strerror(errno);
    return false;
  }
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec: the test may run other threads.
    ::setpgid(0, 0);
    // If the test process dies without its destructors (a crash), the server goes too.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    // A test runner may block or ignore signals; the server must see them as usual.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (const int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
      ::sigaction(signal, &defaultAction, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(pipeStdin ? inRead.Get() : devNull.Get(), 0);
    ::dup2(captureStdout ? outWrite.Get() : log.Get(), 1);
    ::dup2(log.Get(), 2);
    ::execve(args[0], args.data(), environ);
    const int failure = errno;
    [[maybe_unused]] const auto written = ::write(execWrite.Get(), &failure, sizeof failure);
    ::_exit(127);
  }

  execWrite.Reset();
  inRead.Reset();
  int execError = 0;
  ssize_t got;
  while ((got = ::read(execRead.Get(), &execError, sizeof execError)) < 0 && errno == EINTR) {
  }
  pid_ = pid;
  exited_ = false;
  if (got > 0) {
    Stop();
    error = "cannot start " + argv[0] + ": " + std::strerror(execError);
    return false;
  }
  programName_ = argv[0].substr(argv[0].rfind('/') + 1).substr(0, 15);  // the kernel keeps 15
  stdout_ = std::move(outRead);
  stdoutPending_.clear();
  stdin_ = std::move(inWrite);
  // Only this end: WriteStdin waits with poll so that its time limit holds.
  if (stdin_.Valid()) ::fcntl(stdin_.Get(), F_SETFL, ::fcntl(stdin_.Get(), F_GETFL) | O_NONBLOCK);
  return true;
}

bool ServerProcess::ReadStdoutLine(std::string& line, Millis timeout, std::string& error) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto end = stdoutPending_.find('\n');
    if (end != std::string::npos) {
      line = stdoutPending_.substr(0, end);
      stdoutPending_.erase(0, end + 1);
      return true;
    }
    if (!stdout_.Valid() || WaitFor(stdout_.Get(), POLLIN, -1, deadline) != WaitResult::Ready) {
      error = "no line on the server's standard output in time";
      return false;
    }
    char buffer[256];
    const ssize_t n = ::read(stdout_.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = "the server closed its standard output";
      stdout_.Reset();
      return false;
    }
    stdoutPending_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool ServerProcess::ReadStdout(std::size_t size, std::string& data, Millis timeout, std::string& error) {
  const auto deadline = Clock::now() + timeout;
  while (stdoutPending_.size() < size) {
    if (!stdout_.Valid() || WaitFor(stdout_.Get(), POLLIN, -1, deadline) != WaitResult::Ready) {
      error = "only " + std::to_string(stdoutPending_.size()) + " of " + std::to_string(size) +
              " bytes on the server's standard output in time";
      return false;
    }
    char buffer[65536];
    const ssize_t n = ::read(stdout_.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = "the server closed its standard output after " + std::to_string(stdoutPending_.size()) + " bytes";
      stdout_.Reset();
      return false;
    }
    stdoutPending_.append(buffer, static_cast<std::size_t>(n));
  }
  data = stdoutPending_.substr(0, size);
  stdoutPending_.erase(0, size);
  return true;
}

bool ServerProcess::ReadStdoutToEnd(std::string& data, Millis timeout, std::string& error) {
  const auto deadline = Clock::now() + timeout;
  while (stdout_.Valid()) {
    if (WaitFor(stdout_.Get(), POLLIN, -1, deadline) != WaitResult::Ready) {
      error = "the program's standard output did not end in time";
      return false;
    }
    char buffer[65536];
    const ssize_t n = ::read(stdout_.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    stdoutPending_.append(buffer, static_cast<std::size_t>(n));
  }
  stdout_.Reset();
  data = std::move(stdoutPending_);
  stdoutPending_.clear();
  return true;
}

bool ServerProcess::WriteStdin(std::string_view data, Millis timeout, std::string& error) {
  const auto deadline = Clock::now() + timeout;
  while (!data.empty()) {
    if (!stdin_.Valid() || WaitFor(stdin_.Get(), POLLOUT, -1, deadline) != WaitResult::Ready) {
      error = "the server's standard input took no more in time";
      return false;
    }
    const ssize_t n = ::write(stdin_.Get(), data.data(), data.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) {
      error = std::string("writing to the server's standard input: ") + std::strerror(errno);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ServerProcess::Running() {
  if (pid_ <= 0 || exited_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    exited_ = true;
    exitStatus_ = status;
    return false;
  }
  return true;
}

bool ServerProcess::WaitExited(Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Running()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Millis(5));
  }
  return pid_ > 0;
}

bool ServerProcess::WaitAccepting(std::uint16_t port, Millis timeout, std::string& error,
                                  const std::string& host) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (!Running()) {
      error = "the server " + DescribeStatus(exitStatus_) + " before it accepted connections";
      return false;
    }
    std::string connectError;
    if (ConnectTo(host, port, "", Millis(500), connectError).Valid()) return true;
    if (Clock::now() >= deadline) {
      error = "port " + std::to_string(port) + " accepted no connection in time: " + connectError;
      return false;
    }
    std::this_thread::sleep_for(Millis(20));
  }
}

void ServerProcess::Stop() {
  stdout_.Reset();
  stdin_.Reset();
  if (pid_ <= 0) return;
  std::vector<pid_t> doomed = DescendantsOf(pid_);
  doomed.push_back(pid_);
  ::kill(-pid_, SIGTERM);
  Signal(doomed, SIGTERM);
  if (!ReapWithin(doomed, kTermGrace)) {
    Signal(doomed, SIGKILL);
    ReapWithin(doomed, kKillGrace);
  }
  // Session processes that ended earlier, after their parent, came to this process.
  std::vector<pid_t> orphans;
  for (const auto& process : AllProcesses()) {
    if (process.parent == ::getpid() && process.state == 'Z' && process.name == programName_) {
      orphans.push_back(process.pid);
    }
  }
  ReapWithin(orphans, Millis(0));
  pid_ = -1;
}

int RunCommand(const std::vector<std::string>& argv, const std::string& logPath, Millis timeout,
               std::string* output, std::string& error) {
  const auto deadline = Clock::now() + timeout;
  ServerProcess command;
  if (!command.Spawn(argv, logPath, output != nullptr, error)) return -1;
  if (output != nullptr && !command.ReadStdoutToEnd(*output, timeout, error)) return -1;
  if (!command.WaitExited(std::chrono::duration_cast<Millis>(deadline - Clock::now()))) {
    error = argv[0] + " did not end in time";
    return -1;
  }
  const int status = command.ExitStatus();
  if (!WIFEXITED(status)) {
    error = argv[0] + " " + DescribeStatus(status);
    return -1;
  }
  return WEXITSTATUS(status);
}

}  // namespace talvo::test
