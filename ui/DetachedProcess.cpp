#include "ui/DetachedProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Runs in the second child, between fork and exec: async-signal-safe calls only.
[[noreturn]] void ExecDetached(const char* program, char* const* argv, int devNull, int highestFd) {
  ::setsid();
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::dup2(devNull, STDIN_FILENO);
  if (::close_range(3, ~0U, 0) != 0) {
    for (int fd = 3; fd <= highestFd; ++fd) ::close(fd);
  }
  ::execve(program, argv, environ);
  ::_exit(127);
}

// The executable file a program name stands for; empty when there is none.
std::string FindProgram(const std::string& name) {
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : "";
  const char* path = std::getenv("PATH");
  const std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= directories.size();) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string directory = directories.substr(start, end - start);
    start = end + 1;
    // Only absolute entries: an empty or relative one would look in the current
    // directory, which is whatever folder the local pane shows (downloads included).
    if (directory.empty() || directory[0] != '/') continue;
    const std::string candidate = directory + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return "";
}

}  // namespace

bool StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return false;
  // Everything the children need is made before the fork: after it, in a process that has
  // other threads, only async-signal-safe calls are allowed.
  std::vector<std::string> strings = argv;
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const int highestFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) - 1 : 65535;
  const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (devNull < 0) return false;

  // The first child only makes the second and ends, so the program's parent becomes the
  // system's and this process has only the short-lived first child to wait for.
  const pid_t first = ::fork();
  if (first == 0) {
    const pid_t second = ::fork();
    if (second == 0) ExecDetached(program.c_str(), pointers.data(), devNull, highestFd);
    ::_exit(second < 0 ? 1 : 0);
  }
  ::close(devNull);
  if (first < 0) return false;
  int status = 0;
  while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
