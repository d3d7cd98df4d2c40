#include "tests/support/CliRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "tests/support/TempTree.h"

extern char** environ;

namespace talvo::test {

// A pseudo-terminal as a pair of descriptors, read end first, as pipe2 gives them.
namespace {

bool OpenTerminal(int fds[2]) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
  fds[0] = master;
  fds[1] = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return fds[1] >= 0;
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& args, const std::string& input, Millis limit,
              const std::vector<std::string>& env, bool errOnTerminal, const std::optional<TerminalInput>& terminal) {
  CliRun run;
  int in[2], out[2], err[2];
  if (terminal) {
    if (!OpenTerminal(in)) return run;
    std::swap(in[0], in[1]);  // the child reads the terminal's side, the test types on the other
  } else if (pipe2(in, O_CLOEXEC) != 0) {
    return run;
  }
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  if (errOnTerminal ? !OpenTerminal(err) : pipe2(err, O_CLOEXEC) != 0) return run;
  UniqueFd toChild(in[1]), fromChild(out[0]), errFromChild(err[0]);
  UniqueFd childIn(in[0]), childOut(out[1]), childErr(err[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, childIn.Get(), 0);
  posix_spawn_file_actions_adddup2(&actions, childOut.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, childErr.Get(), 2);
  std::vector<char*> argv{const_cast<char*>(kCli.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The servers the tool remembers go to a folder of the test's, not to $HOME; neither the
  // user's ~/.netrc nor the user's keyring is read, unless a test gives its own.
  static TempTree config("cli-config");
  const std::vector<std::string> isolation = {"XDG_CONFIG_HOME=" + config.Path(), "NETRC=" + config.PathOf("netrc"),
                                              "DBUS_SESSION_BUS_ADDRESS=unix:path=" + config.PathOf("no-bus")};
  std::vector<char*> envp;
  // The test's own variables, then the isolation's that it does not give, then the inherited
  // ones that neither names: each variable once.
  std::vector<std::string> own = env;
  const auto named = [&own](std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    return std::any_of(own.begin(), own.end(), [name](const std::string& e) { return e.rfind(name, 0) == 0; });
  };
  for (const auto& i : isolation) {
    if (!named(i)) own.push_back(i);
  }
  for (const auto& e : own) envp.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e != nullptr; ++e) {
    if (!named(*e)) envp.push_back(*e);
  }
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, kCli.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  childIn.Reset();
  childOut.Reset();
  childErr.Reset();
  if (spawned != 0) return run;

  // The tool may stop reading early (a usage error): a closed pipe must not end the test.
  signal(SIGPIPE, SIG_IGN);
  for (const int fd : {toChild.Get(), fromChild.Get(), errFromChild.Get()}) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  std::size_t written = 0;
  bool prompted = !terminal;
  if (input.empty() && !terminal) toChild.Reset();
  const auto deadline = Clock::now() + limit;
  while ((fromChild.Valid() || errFromChild.Valid()) && Clock::now() < deadline) {
    if (!prompted && run.err.find(terminal->prompt) != std::string::npos) {
      prompted = true;
      if (terminal->interrupt) kill(pid, SIGINT);
    }
    // The terminal's side shows what the tool echoes; typing waits for the prompt.
    pollfd fds[3] = {{fromChild.Get(), POLLIN, 0}, {errFromChild.Get(), POLLIN, 0},
                     {toChild.Get(), static_cast<short>((prompted && written < input.size() ? POLLOUT : 0) |
                                                        (terminal ? POLLIN : 0)), 0}};
    const auto left = std::chrono::duration_cast<Millis>(std::min<Clock::duration>(deadline - Clock::now(), Millis(50))).count();
    if (poll(fds, 3, static_cast<int>(std::max<long long>(left, 1))) < 0) break;
    if (terminal && (fds[2].revents & POLLIN) != 0) {
      char buffer[256];
      const ssize_t n = read(toChild.Get(), buffer, sizeof buffer);
      if (n > 0) run.terminal.append(buffer, static_cast<std::size_t>(n));
    }
    if (!terminal && fds[2].revents != 0) {
      const ssize_t n = write(toChild.Get(), input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) toChild.Reset();
    } else if (terminal && prompted && written < input.size() && (fds[2].revents & POLLOUT) != 0) {
      const ssize_t n = write(toChild.Get(), input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
    }
    const auto drain = [](UniqueFd& fd, short revents, std::string& text) {
      if (revents == 0) return;
      char buffer[4096];
      const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
      if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
      } else {
        fd.Reset();
      }
    };
    drain(fromChild, fds[0].revents, run.out);
    drain(errFromChild, fds[1].revents, run.err);
  }

  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return run;
    }
    usleep(10000);
  }
  run.finished = WIFEXITED(status);
  if (run.finished) run.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  termios settings{};
  if (terminal && tcgetattr(toChild.Get(), &settings) == 0) run.echoAfter = (settings.c_lflag & ECHO) != 0;
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace talvo::test
