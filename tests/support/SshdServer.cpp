#include "tests/support/SshdServer.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <thread>

namespace talvo::test {

namespace {

constexpr Millis kReadyTimeout{10000};
constexpr Millis kKeyGenTimeout{20000};
constexpr const char* kNssWrapper = "libnss_wrapper.so";

// A user id that no account of the system has.
uid_t FreeUserId() {
  for (uid_t uid = 52000; uid < 60000; ++uid) {
    if (::getpwuid(uid) == nullptr) return uid;
  }
  return 0;
}

bool SetOwner(const std::string& path, uid_t uid, mode_t mode) {
  return ::chown(path.c_str(), uid, uid) == 0 && ::chmod(path.c_str(), mode) == 0;
}

}  // namespace

SshdServer::SshdServer(std::vector<std::string> extraConfig) : extraConfig_(std::move(extraConfig)) {}

SshdServer::~SshdServer() {
  Stop();
  RemovePamService(pamService_);
}

std::string SshdServer::BinaryPath() { return TALVO_BINARY_DIR "/servers/openssh-server/usr/sbin/sshd"; }

bool SshdServer::KeyGen(const std::vector<std::string>& args, std::string& error) {
  std::vector<std::string> argv = {"/usr/bin/ssh-keygen", "-q"};
  argv.insert(argv.end(), args.begin(), args.end());
  const int status = RunCommand(argv, work_.PathOf("keygen.log"), kKeyGenTimeout, nullptr, error);
  if (status != 0 && error.empty()) error = "ssh-keygen failed: " + work_.ReadFile("keygen.log");
  return status == 0;
}

bool SshdServer::MakeHostKey(std::string& error) {
  const std::string key = work_.PathOf("host_key_" + std::to_string(++hostKeys_));
  if (!KeyGen({"-t", "ed25519", "-N", "", "-C", "", "-f", key}, error)) return false;
  // sshd reads its host key only when it belongs to its user and nobody else may read it.
  return SetOwner(key, uid_, 0600);
}

bool SshdServer::ChangeHostKey() {
  error_.clear();
  return MakeHostKey(error_);
}

std::string SshdServer::HostKeyLine() const {
  std::string line = work_.ReadFile("host_key_" + std::to_string(hostKeys_) + ".pub");
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string SshdServer::MakeUserKey(const std::string& name, const std::string& passphrase, bool authorize) {
  error_.clear();
  const std::string key = work_.PathOf(name);
  if (!KeyGen({"-t", "ed25519", "-N", passphrase, "-C", name, "-f", key}, error_)) return {};
  if (authorize) {
    const std::string authorized = work_.ReadFile("authorized_keys") + work_.ReadFile(name + ".pub");
    if (!work_.WriteFile("authorized_keys", authorized)) {
      error_ = "cannot write authorized_keys";
      return {};
    }
  }
  return key;
}

bool SshdServer::Prepare(std::string& error) {
  if (prepared_) return true;
  if (::access(BinaryPath().c_str(), X_OK) != 0) {
    error = "sshd is not unpacked at " + BinaryPath() + "; run scripts/install-deps.sh " TALVO_BINARY_DIR "/servers";
    return false;
  }
  uid_ = FreeUserId();
  if (uid_ == 0) {
    error = "no free user id";
    return false;
  }
  const std::string id = std::to_string(uid_);
  if (!root_.SetOwner(uid_, uid_, 0755) || !SetOwner(work_.Path(), uid_, 0755) ||
      !work_.WriteFile("passwd",
                       std::string(kUser) + ":x:" + id + ":" + id + ":Talvo test:" + root_.Path() + ":/bin/sh\n") ||
      !work_.WriteFile("group", std::string(kUser) + ":x:" + id + ":\n") ||
      !work_.WriteFile("pam_passwd", PasswordFileLine(kUser)) || !work_.WriteFile("authorized_keys", "")) {
    error = "cannot prepare the server's files";
    return false;
  }
  if (!MakeHostKey(error) || !WritePamService("sshd", work_.PathOf("pam_passwd"), pamService_, error)) return false;
  // sshd takes its PAM service's name from its program's name.
  if (::symlink(BinaryPath().c_str(), work_.PathOf(pamService_).c_str()) != 0) {
    error = "cannot link sshd under its service's name";
    return false;
  }
  prepared_ = true;
  return true;
}

std::string SshdServer::Config(std::uint16_t port) const {
  std::ostringstream config;
  bool ownSubsystem = false;
  for (const std::string& line : extraConfig_) {
    config << line << "\n";
    ownSubsystem = ownSubsystem || line.rfind("Subsystem sftp", 0) == 0;
  }
  config << "ListenAddress " << host_ << ":" << port << "\n"
         << "HostKey " << work_.PathOf("host_key_" + std::to_string(hostKeys_)) << "\n"
         << "PidFile none\n"
         << "UsePAM yes\n"
         << "PasswordAuthentication yes\n"
         << "KbdInteractiveAuthentication yes\n"
         << "PubkeyAuthentication yes\n"
         << "AuthorizedKeysFile " << work_.PathOf("authorized_keys") << "\n"
         << "StrictModes no\n"
         << "UseDNS no\n"
         << "MaxAuthTries 20\n"
         << "LogLevel VERBOSE\n";
  if (!ownSubsystem) config << "Subsystem sftp internal-sftp -d " << root_.Path() << "\n";
  return config.str();
}

bool SshdServer::Launch(std::string& error) {
  if (!Prepare(error)) return false;
  const std::uint16_t port = wantedPort_ != 0 ? wantedPort_ : PickFreePort();
  if (port == 0) {
    error = "no free port";
    return false;
  }
  if (!work_.WriteFile("sshd_config", Config(port))) {
    error = "cannot write the configuration";
    return false;
  }
  const std::string id = std::to_string(uid_);
  const std::vector<std::string> argv = {"/usr/bin/setpriv",
                                         "--reuid=" + id,
                                         "--regid=" + id,
                                         "--clear-groups",
                                         "/usr/bin/env",
                                         std::string("LD_PRELOAD=") + kNssWrapper,
                                         "NSS_WRAPPER_PASSWD=" + work_.PathOf("passwd"),
                                         "NSS_WRAPPER_GROUP=" + work_.PathOf("group"),
                                         work_.PathOf(pamService_),
                                         "-D",
                                         "-e",
                                         "-f",
                                         work_.PathOf("sshd_config")};
  if (!process_.Spawn(argv, work_.PathOf("server.log"), false, error)) return false;
  port_ = port;
  return process_.WaitAccepting(port_, kReadyTimeout, error, host_);
}

// --- SshAgent ---

bool SshAgent::Start(std::string& error) {
  socket_ = folder_.PathOf("agent.sock");
  if (!process_.Spawn({"/usr/bin/ssh-agent", "-D", "-a", socket_}, folder_.PathOf("agent.log"), false, error)) {
    return false;
  }
  const auto deadline = Clock::now() + kReadyTimeout;
  while (!folder_.Exists("agent.sock")) {
    if (Clock::now() >= deadline || !process_.Running()) {
      error = "ssh-agent made no socket: " + folder_.ReadFile("agent.log");
      return false;
    }
    std::this_thread::sleep_for(Millis(10));
  }
  return true;
}

bool SshAgent::Add(const std::string& key, std::string& error) {
  ::setenv("SSH_AUTH_SOCK", socket_.c_str(), 1);
  const int status =
      RunCommand({"/usr/bin/ssh-add", "-q", key}, folder_.PathOf("agent.log"), kKeyGenTimeout, nullptr, error);
  ::unsetenv("SSH_AUTH_SOCK");
  if (status != 0 && error.empty()) error = "ssh-add failed: " + folder_.ReadFile("agent.log");
  return status == 0;
}

}  // namespace talvo::test
