#include "tests/support/RealServers.h"

#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#ifndef TALVO_SOURCE_DIR
#error "TALVO_SOURCE_DIR must name the source tree (set by tests/CMakeLists.txt)"
#endif
#ifndef TALVO_BINARY_DIR
#error "TALVO_BINARY_DIR must name the build tree (set by tests/CMakeLists.txt)"
#endif

namespace talvo::test {

namespace {

constexpr int kStartTries = 5;
constexpr Millis kReadyTimeout{10000};

constexpr const char* kPamDirectory = "/etc/pam.d";
constexpr std::string_view kPamPrefix = "talvo-ftp-test-";
// SHA-512 crypt() of FtpServerFixture::kPassword, for pam_pwdfile.
constexpr const char* kPasswordHash =
    "$6$talvotestsalt$xwIpZVUPz2W2sRd/UADVP4.qztsZDpXwqAGG/JCGnu8D5O4oXkmJ6brPsJfmPgXj1cV8HRxqNZ5IktgaXlna11";

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// Unprivileged accounts of the base system whose home directory exists.
std::vector<Account> ServiceAccounts() {
  std::vector<Account> accounts;
  for (const char* name : {"daemon", "bin", "sys", "games", "man", "mail", "news", "proxy", "backup", "list"}) {
    const passwd* entry = ::getpwnam(name);
    if (entry == nullptr || entry->pw_uid == 0 || entry->pw_dir == nullptr) continue;
    struct stat home {};
    if (::stat(entry->pw_dir, &home) != 0 || !S_ISDIR(home.st_mode)) continue;
    accounts.push_back({name, entry->pw_uid, entry->pw_gid});
  }
  return accounts;
}

// PAM service files "talvo-ftp-test-PID-N" of processes that have ended.
void RemoveStalePamServices() {
  DIR* dir = ::opendir(kPamDirectory);
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.substr(0, kPamPrefix.size()) != kPamPrefix) continue;
    const pid_t owner = static_cast<pid_t>(std::strtol(std::string(name.substr(kPamPrefix.size())).c_str(), nullptr, 10));
    if (owner > 0 && ::kill(owner, 0) == -1 && errno == ESRCH) {
      ::unlink((std::string(kPamDirectory) + "/" + std::string(name)).c_str());
    }
  }
  ::closedir(dir);
}

}  // namespace

// --- PAM services of the test servers ---

bool WritePamService(const std::string& server, const std::string& passwordFile, std::string& service,
                     std::string& error) {
  static std::once_flag staleRemoved;
  std::call_once(staleRemoved, RemoveStalePamServices);
  static std::atomic<int> serial{0};
  const std::string name = std::string(kPamPrefix) + std::to_string(::getpid()) + "-" + std::to_string(++serial);
  const std::string pamFile = std::string(kPamDirectory) + "/" + name;
  std::ostringstream pam;
  pam << "# " << server << " of a Talvo FTP test (process " << ::getpid() << "); removed when the test ends.\n"
      << "auth required pam_pwdfile.so nodelay pwdfile=" << passwordFile << "\n"
      << "account required pam_permit.so\n"
      << "session required pam_permit.so\n";
  FILE* file = std::fopen(pamFile.c_str(), "w");
  if (file == nullptr) {
    error = "cannot write " + pamFile + ": " + std::strerror(errno);
    return false;
  }
  service = name;
  const std::string text = pam.str();
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    error = "cannot write " + pamFile;
    return false;
  }
  return true;
}

void RemovePamService(const std::string& service) {
  if (!service.empty()) ::unlink((std::string(kPamDirectory) + "/" + service).c_str());
}

std::string PasswordFileLine(const std::string& user) {
  return user + ":" + kPasswordHash + "\n";
}

// --- FtpServerFixture ---

FtpServerFixture::FtpServerFixture() = default;

bool FtpServerFixture::Start() {
  error_.clear();
  if (!work_.Valid() || !root_.Valid()) {
    error_ = std::string(Name()) + ": cannot make its temporary directories";
    return false;
  }
  if (tls_ && certificatesMade_ == 0 && !MakeCertificate()) return false;
  std::string why;
  for (int attempt = 0; attempt < kStartTries; ++attempt) {
    process_.Stop();
    if (Launch(why)) return true;
  }
  process_.Stop();
  error_ = std::string(Name()) + " did not start: " + why;
  if (const std::string log = Log(); !log.empty()) error_ += "\n--- server log ---\n" + log;
  return false;
}

std::string FtpServerFixture::Log() const { return work_.ReadFile("server.log"); }

bool FtpServerFixture::Restart() {
  wantedPort_ = port_;
  Stop();
  const bool started = Start();
  wantedPort_ = 0;
  return started;
}

bool FtpServerFixture::MakeCertificate(const std::string& onlyName) {
  std::vector<std::string> addresses = {"127.0.0.1"};
  if (host_ != addresses[0]) addresses.push_back(host_);
  if (!onlyName.empty()) addresses.clear();
  TestCertificate made;
  if (!MakeTestCertificate(work_, "server-" + std::to_string(++certificatesMade_),
                           onlyName.empty() ? "localhost" : onlyName, made, addresses)) {
    error_ = std::string(Name()) + ": cannot make its certificate: " + made.error;
    return false;
  }
  certificate_ = std::move(made);
  return true;
}

bool FtpServerFixture::ChangeCertificate(const std::string& onlyName) {
  error_.clear();
  return MakeCertificate(onlyName);
}

// --- PyFtpdServer ---

bool PyFtpdServer::Launch(std::string& error) {
  std::vector<std::string> argv = {
      "/usr/bin/python3", TALVO_SOURCE_DIR "/tests/support/pyftpd_server.py",
      root_.Path(),       kUser,
      kPassword,          std::to_string(wantedPort_),
      "address=" + host_};
  if (refusePort_) argv.push_back("refuse-port");
  if (tls_) argv.push_back("tls=" + certificate_.certificateFile + "," + certificate_.keyFile);
  if (tls_ && earlyHandshake_) argv.push_back("early-handshake");
  if (throttle_ > 0) argv.push_back("throttle=" + std::to_string(throttle_));
  if (!process_.Spawn(argv, work_.PathOf("server.log"), true, error)) return false;
  std::string line;
  if (!process_.ReadStdoutLine(line, kReadyTimeout, error)) return false;
  const long port = std::strtol(line.c_str(), nullptr, 10);
  if (port <= 0 || port > 65535) {
    error = "pyftpd_server.py printed \"" + line + "\" instead of its port";
    return false;
  }
  port_ = static_cast<std::uint16_t>(port);
  return process_.WaitAccepting(port_, kReadyTimeout, error, host_);
}

// --- VsftpdServer ---

VsftpdServer::VsftpdServer(std::vector<std::string> extraConfig) : extraConfig_(std::move(extraConfig)) {}

VsftpdServer::~VsftpdServer() {
  Stop();
  RemovePamService(pamService_);
}

std::string VsftpdServer::BinaryPath() { return TALVO_BINARY_DIR "/servers/vsftpd/usr/sbin/vsftpd"; }

bool VsftpdServer::Prepare(std::string& error) {
  if (prepared_) return true;
  if (::access(BinaryPath().c_str(), X_OK) != 0) {
    error = "vsftpd is not unpacked at " + BinaryPath() +
            "; run scripts/install-deps.sh " TALVO_BINARY_DIR "/servers";
    return false;
  }
  const std::vector<Account> accounts = ServiceAccounts();
  if (accounts.size() < 2) {
    error = "no two unprivileged accounts with a home directory for the guest and anonymous";
    return false;
  }
  guestAccount_ = accounts[0].name;
  anonymousAccount_ = accounts[1].name;
  if (!root_.SetOwner(accounts[0].uid, accounts[0].gid, 0777) || !work_.MakeDirectory("empty") ||
      !work_.WriteFile("passwd", PasswordFileLine(kUser))) {
    error = "cannot prepare the server's directories";
    return false;
  }
  ::chmod(work_.PathOf("passwd").c_str(), 0600);

  if (!WritePamService("vsftpd", work_.PathOf("passwd"), pamService_, error)) return false;
  prepared_ = true;
  return true;
}

std::string VsftpdServer::Config(std::uint16_t port) const {
  std::ostringstream config;
  const bool ipv6 = host_.find(':') != std::string::npos;
  config << (ipv6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=" : "listen=YES\nlisten_ipv6=NO\nlisten_address=")
         << host_ << "\n"
         << "listen_port=" << port << "\n"
         << "background=NO\n"
         << "secure_chroot_dir=" << work_.PathOf("empty") << "\n"
         << "pam_service_name=" << pamService_ << "\n"
         // The virtual user: checked by PAM, served as the guest account.
         << "local_enable=YES\n"
         << "guest_enable=YES\n"
         << "guest_username=" << guestAccount_ << "\n"
         << "virtual_use_local_privs=YES\n"
         << "local_root=" << root_.Path() << "\n"
         << "chroot_local_user=YES\n"
         << "allow_writeable_chroot=YES\n"
         << "write_enable=YES\n"
         << "local_umask=022\n"
         << "anonymous_enable=YES\n"
         << "ftp_username=" << anonymousAccount_ << "\n"
         << "anon_root=" << root_.Path() << "\n"
         << "anon_upload_enable=YES\n"
         << "anon_mkdir_write_enable=YES\n"
         << "anon_other_write_enable=YES\n"
         << "anon_world_readable_only=NO\n"
         << "anon_umask=022\n"
         << "port_enable=YES\n"
         << "connect_from_port_20=NO\n"
         // Sandboxes and namespaces depend on the kernel and the container; the tests do
         // not need them.
         << "seccomp_sandbox=NO\n"
         << "isolate=NO\n"
         << "isolate_network=NO\n"
         << "delay_failed_login=0\n"
         << "xferlog_enable=NO\n"
         << "vsftpd_log_file=" << work_.PathOf("vsftpd.log") << "\n";
  if (tls_) {
    config << "ssl_enable=YES\n"
           << "rsa_cert_file=" << certificate_.certificateFile << "\n"
           << "rsa_private_key_file=" << certificate_.keyFile << "\n"
           << "ssl_sslv2=NO\n"
           << "ssl_sslv3=NO\n"
           << "ssl_tlsv1=NO\n"
           << "ssl_ciphers=HIGH\n"
           << "force_local_logins_ssl=YES\n"
           << "force_local_data_ssl=YES\n"
           << "allow_anon_ssl=YES\n"
           << "force_anon_logins_ssl=YES\n"
           << "force_anon_data_ssl=YES\n"
           << "require_ssl_reuse=YES\n";
  }
  for (const auto& line : extraConfig_) config << line << "\n";
  return config.str();
}

bool VsftpdServer::Launch(std::string& error) {
  if (!Prepare(error)) return false;
  const std::uint16_t port = wantedPort_ != 0 ? wantedPort_ : PickFreePort();
  if (port == 0) {
    error = "no free port";
    return false;
  }
  if (!work_.WriteFile("vsftpd.conf", Config(port))) {
    error = "cannot write the configuration";
    return false;
  }
  if (!process_.Spawn({BinaryPath(), work_.PathOf("vsftpd.conf")}, work_.PathOf("server.log"), false, error)) {
    return false;
  }
  port_ = port;
  return process_.WaitAccepting(port_, kReadyTimeout, error, host_);
}

}  // namespace talvo::test
