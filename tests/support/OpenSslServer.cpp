#include "tests/support/OpenSslServer.h"

#include <signal.h>

#include <thread>

#include "tests/support/TestCertificate.h"

namespace talvo::test {

namespace {

constexpr const char* kOpenSsl = "/usr/bin/openssl";
constexpr int kStartTries = 5;
constexpr Millis kCommandTimeout{20000};
constexpr Millis kReadyTimeout{10000};
constexpr Millis kTransferTimeout{60000};

}  // namespace

OpenSslServer::OpenSslServer(std::vector<std::string> extraArgs) : extraArgs_(std::move(extraArgs)) {
  // Writing to a server that has gone must fail, not end the test.
  ::signal(SIGPIPE, SIG_IGN);
}

OpenSslServer::~OpenSslServer() {
  // A server that is gone ends the pipes, so that the helper threads return at once.
  if (process_.Running()) ::kill(process_.Pid(), SIGTERM);
  if (sender_.joinable()) sender_.join();
  if (collector_.joinable()) collector_.join();
  Stop();
}

void OpenSslServer::Stop() { process_.Stop(); }

void OpenSslServer::Kill() {
  if (process_.Running()) ::kill(process_.Pid(), SIGKILL);
  process_.Stop();
}

std::string OpenSslServer::CertificateFile(const std::string& name) const { return work_.PathOf(name + ".pem"); }

std::string OpenSslServer::BothCertificatesFile() const { return work_.PathOf("both.pem"); }

// Runs a short command to its end; `firstLine` (when given) receives its first output line.
bool OpenSslServer::Run(const std::vector<std::string>& argv, std::string* firstLine) {
  ServerProcess command;
  std::string error;
  if (!command.Spawn(argv, work_.PathOf("commands.log"), firstLine != nullptr, error) ||
      (firstLine != nullptr && !command.ReadStdoutLine(*firstLine, kCommandTimeout, error))) {
    error_ = argv[1] + ": " + error + "\n" + work_.ReadFile("commands.log");
    return false;
  }
  const auto deadline = Clock::now() + kCommandTimeout;
  while (command.Running() && Clock::now() < deadline) std::this_thread::sleep_for(Millis(10));
  if (command.Running()) {
    error_ = argv[1] + " did not end in time";
    return false;
  }
  return true;
}

bool OpenSslServer::MakeCertificate(const std::string& name) {
  TestCertificate certificate;
  if (MakeTestCertificate(work_, name, name, certificate, {})) return true;
  error_ = certificate.error;
  return false;
}

std::string OpenSslServer::Fingerprint(const std::string& name) {
  return CertificateFingerprint(CertificateFile(name), work_.PathOf("commands.log"), error_);
}

std::string OpenSslServer::TrustDirectory() {
  std::string hash;
  if (!Run({kOpenSsl, "x509", "-noout", "-subject_hash", "-in", CertificateFile(kName)}, &hash)) return {};
  const std::string link = "trusted/" + hash + ".0";
  if (!work_.MakeDirectory("trusted") || !work_.WriteFile(link, work_.ReadFile(std::string(kName) + ".pem"))) {
    return {};
  }
  return work_.PathOf("trusted");
}

bool OpenSslServer::Start() {
  error_.clear();
  if (!work_.Valid()) {
    error_ = "cannot make the server's temporary directory";
    return false;
  }
  if (!certificatesMade_) {
    if (!MakeCertificate(kName) || !MakeCertificate(kFallbackName)) return false;
    if (!work_.WriteFile("both.pem", work_.ReadFile(std::string(kName) + ".pem") +
                                         work_.ReadFile(std::string(kFallbackName) + ".pem"))) {
      return false;
    }
    certificatesMade_ = true;
  }
  std::string why;
  for (int attempt = 0; attempt < kStartTries; ++attempt) {
    if (Launch(PickFreePort(), why)) return true;
    process_.Stop();
  }
  error_ = "openssl s_server did not start: " + why + "\n--- server log ---\n" + Log();
  return false;
}

bool OpenSslServer::Launch(std::uint16_t port, std::string& error) {
  std::vector<std::string> argv = {
      kOpenSsl, "s_server", "-accept", "127.0.0.1:" + std::to_string(port),
      "-cert", CertificateFile(kFallbackName), "-key", work_.PathOf(std::string(kFallbackName) + ".key"),
      "-cert2", CertificateFile(kName), "-key2", work_.PathOf(std::string(kName) + ".key"),
      "-servername", kName,
      // Only the client's plain bytes on standard output.
      "-quiet", "-msg", "-msgfile", work_.PathOf("messages.txt")};
  argv.insert(argv.end(), extraArgs_.begin(), extraArgs_.end());
  if (!process_.Spawn(argv, work_.PathOf("server.log"), true, error, /*pipeStdin=*/true)) return false;
  // The probe's connection ends at once; the server takes the next one.
  if (!process_.WaitAccepting(port, kReadyTimeout, error)) return false;
  port_ = port;
  return true;
}

void OpenSslServer::SendToClient(std::string data, bool thenEnd) {
  if (sender_.joinable()) sender_.join();
  sender_ = std::thread([this, thenEnd, data = std::move(data)] {
    sendOk_ = process_.WriteStdin(data, kTransferTimeout, sendError_);
    if (thenEnd) process_.CloseStdin();
  });
}

bool OpenSslServer::SendFinished() {
  if (sender_.joinable()) sender_.join();
  if (!sendOk_) error_ = sendError_;
  return sendOk_;
}


void OpenSslServer::CollectFromClient(std::size_t size) {
  if (collector_.joinable()) collector_.join();
  collector_ = std::thread([this, size] {
    collectOk_ = process_.ReadStdout(size, collected_, kTransferTimeout, collectError_);
  });
}

bool OpenSslServer::Collected(std::string& data) {
  if (collector_.joinable()) collector_.join();
  if (!collectOk_) error_ = collectError_;
  data = std::move(collected_);
  collected_.clear();
  return collectOk_;
}

}  // namespace talvo::test
