#include "tests/support/SftpTestSession.h"

#include "platform/MessageLoop.h"

namespace talvo::test {

SftpTestSession::SftpTestSession(SshdServer& server, bool trustServer, bool withKey) : server_(server) {
  sftp.SetFtpServer(server.Host());
  sftp.FtpPort = server.Port();
  sftp.TimeOutConnect = 10;
  sftp.TimeOutArp = 10;
  sftp.UserName = server.User();
  sftp.KnownHostsFile = home.PathOf("known_hosts");
  sftp.SshConfigFile = home.PathOf("config");
  sftp.AgentSocket.clear();
  sftp.DefaultIdentityFiles.clear();
  if (trustServer) {
    home.WriteFile("known_hosts",
                   "[" + server.Host() + "]:" + std::to_string(server.Port()) + " " + server.HostKeyLine() + "\n");
  }
  if (withKey) {
    static int keys = 0;
    key = server.MakeUserKey("id_session_" + std::to_string(++keys));
    sftp.DefaultIdentityFiles.push_back(key);
  }
}

bool SftpTestSession::LogIn() {
  return Run([this] { sftp.Connect(); }, "loggedIn");
}

bool SftpTestSession::Run(const std::function<void()>& start, const std::string& completion, int timeoutMs) {
  return RunUntilLogged(log, start, completion, timeoutMs);
}

bool SftpTestSession::WaitQuit(int timeoutMs) {
  return platform::MessageLoop::Current().RunUntil([&] { return log.Count("quit") > 0; }, timeoutMs);
}

std::string SftpTestSession::Transcript() const {
  std::string text;
  for (const std::string& line : log.Lines()) text += line + "\n";
  return text + "--- server log ---\n" + server_.Log();
}

}  // namespace talvo::test
