#include "tests/support/RealServerSession.h"

#include "platform/MessageLoop.h"

namespace talvo::test {

void PrintTo(const ServerKind& kind, std::ostream* out) { *out << kind.name; }

std::string ServerKindName(const ::testing::TestParamInfo<ServerKind>& info) { return info.param.name; }

ServerKind PyFtpdKind() {
  return {"pyftpdlib", [] { return std::make_unique<PyFtpdServer>(); }};
}

ServerKind VsftpdKind() {
  return {"vsftpd", [] { return std::make_unique<VsftpdServer>(); }};
}

ServerKind VsftpdAsyncAborKind() {
  return {"vsftpd_async_abor",
          [] { return std::make_unique<VsftpdServer>(std::vector<std::string>{"async_abor_enable=YES"}); }};
}

ServerKind PyFtpdPortRefusedKind() {
  return {"pyftpdlib_port_refused", [] { return std::make_unique<PyFtpdServer>(true); }, dcmAutomatic};
}

ServerKind VsftpdPortRefusedKind() {
  return {"vsftpd_port_refused",
          [] { return std::make_unique<VsftpdServer>(std::vector<std::string>{"port_enable=NO"}); }, dcmAutomatic};
}

ServerKind PyFtpdPassiveKind() {
  return {"pyftpdlib_passive", [] { return std::make_unique<PyFtpdServer>(); }, dcmPassive};
}

ServerKind VsftpdPassiveKind() {
  return {"vsftpd_passive", [] { return std::make_unique<VsftpdServer>(); }, dcmPassive};
}

namespace {

template <typename Server>
std::function<std::unique_ptr<FtpServerFixture>()> WithTls(const char* host = nullptr) {
  return [host] {
    auto server = std::make_unique<Server>();
    server->EnableTls();
    if (host != nullptr) server->SetHost(host);
    return server;
  };
}

template <typename Server>
std::function<std::unique_ptr<FtpServerFixture>()> OnIpv6() {
  return [] {
    auto server = std::make_unique<Server>();
    server->SetHost("::1");
    return server;
  };
}

}  // namespace

ServerKind VsftpdTlsKind() { return {"vsftpd_tls", WithTls<VsftpdServer>(), dcmActive}; }
ServerKind VsftpdTlsPassiveKind() { return {"vsftpd_tls_passive", WithTls<VsftpdServer>(), dcmPassive}; }
ServerKind PyFtpdTlsKind() { return {"pyftpdlib_tls", WithTls<PyFtpdServer>(), dcmActive}; }
ServerKind PyFtpdTlsPassiveKind() { return {"pyftpdlib_tls_passive", WithTls<PyFtpdServer>(), dcmPassive}; }
ServerKind PyFtpdIpv6Kind() { return {"pyftpdlib_ipv6", OnIpv6<PyFtpdServer>(), dcmActive}; }
ServerKind PyFtpdIpv6PassiveKind() { return {"pyftpdlib_ipv6_passive", OnIpv6<PyFtpdServer>(), dcmPassive}; }
ServerKind VsftpdIpv6Kind() { return {"vsftpd_ipv6", OnIpv6<VsftpdServer>(), dcmActive}; }
ServerKind VsftpdIpv6PassiveKind() { return {"vsftpd_ipv6_passive", OnIpv6<VsftpdServer>(), dcmPassive}; }
ServerKind VsftpdTlsIpv6Kind() { return {"vsftpd_tls_ipv6", WithTls<VsftpdServer>("::1"), dcmActive}; }


RealServerSession::RealServerSession(const FtpServerFixture& server, TDataConnectionMode mode)
    : host_(server.TypedHost()), port_(server.Port()) {
  ftp.DataConnectionMode = mode;
  if (server.TlsEnabled()) {
    ftp.TlsMode = tlsmRequire;
    ftp.TlsCaFile = server.Certificate().certificateFile;
  }
  TFtpInfoEvent record = ftp.OnFtpInfo;
  ftp.OnFtpInfo = [this, record](TObject* sender, FtpInfo info, std::string addinfo) {
    if (info == ftpiProgress) {
      ++ProgressCount;
      if (OnProgress) OnProgress();
      return;
    }
    record(sender, info, std::move(addinfo));
  };
}

bool RealServerSession::LogIn(const std::string& user, const std::string& password) {
  ftp.UserName = user;
  ftp.UserPassword = password;
  ftp.SetFtpServer(host_);
  ftp.FtpPort = port_;
  return Run([this] { ftp.Connect(); }, "loggedIn");
}

bool RealServerSession::Run(const std::function<void()>& start, const std::string& completion, int timeoutMs) {
  return RunUntilLogged(log, start, completion, timeoutMs);
}

bool RealServerSession::WaitFor(const std::string& line, int count, int timeoutMs) {
  return platform::MessageLoop::Current().RunUntil([&] { return log.Count(line) >= count; }, timeoutMs);
}

namespace {

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

std::vector<std::string> RealServerSession::SentCommands() const {
  static const std::string kSent = "ftpiSent:";
  std::vector<std::string> commands;
  for (const std::string& line : log.Lines()) {
    if (line.starts_with(kSent)) commands.push_back(WithoutLineEnd(line.substr(kSent.size())));
  }
  return commands;
}

std::vector<std::string> RealServerSession::RepliesSince(std::size_t from) const {
  static const std::string kReceived = "ftpiReceived:";
  std::string text;
  for (std::size_t i = from; i < log.Lines().size(); ++i) {
    const std::string& line = log.Lines()[i];
    if (line.starts_with(kReceived)) text += line.substr(kReceived.size());
  }
  std::vector<std::string> replies;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    replies.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) replies.push_back(text.substr(start));
  return replies;
}

std::string RealServerSession::Transcript() const {
  std::string text;
  for (const std::string& line : log.Lines()) text += WithoutLineEnd(line) + "\n";
  return text;
}

}  // namespace talvo::test
