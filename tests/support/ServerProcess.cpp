#include "tests/support/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

// Reaps what has ended in the group; true once the whole group is gone.
bool ReapGroup(pid_t groupId) {
  int status = 0;
  while (::waitpid(-groupId, &status, WNOHANG) > 0) {
  }
  return ProcessGroupGone(groupId);
}

bool ReapGroupWithin(pid_t groupId, Millis limit) {
  const auto deadline = Clock::now() + limit;
  while (!ReapGroup(groupId)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Millis(10));
  }
  return true;
}

}  // namespace

bool ProcessGroupGone(pid_t groupId) { return ::kill(-groupId, 0) == -1 && errno == ESRCH; }

bool ServerProcess::Spawn(const std::vector<std::string>& argv, const std::string& logPath,
                          bool captureStdout, std::string& error) {
  Stop();
  // Session processes of a forking server must come back to this process to be reaped.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);

  int outPipe[2] = {-1, -1};
  if (captureStdout && ::pipe2(outPipe, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  UniqueFd readEnd(outPipe[0]), writeEnd(outPipe[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (captureStdout) {
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
  }

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  // A test runner may block or ignore signals; the server must see them as usual.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int result = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    error = "cannot start " + argv[0] + ": " + std::strerror(result);
    return false;
  }
  pid_ = pid;
  exited_ = false;
  stdout_ = std::move(readEnd);
  stdoutPending_.clear();
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

bool ServerProcess::WaitAccepting(std::uint16_t port, Millis timeout, std::string& error) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (!Running()) {
      error = "the server " + DescribeStatus(exitStatus_) + " before it accepted connections";
      return false;
    }
    std::string connectError;
    if (ConnectTo("127.0.0.1", port, "", Millis(500), connectError).Valid()) return true;
    if (Clock::now() >= deadline) {
      error = "port " + std::to_string(port) + " accepted no connection in time: " + connectError;
      return false;
    }
    std::this_thread::sleep_for(Millis(20));
  }
}

void ServerProcess::Stop() {
  stdout_.Reset();
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  if (!ReapGroupWithin(pid_, kTermGrace)) {
    ::kill(-pid_, SIGKILL);
    ReapGroupWithin(pid_, kKillGrace);
  }
  pid_ = -1;
}

}  // namespace talvo::test
