#include "tests/support/DataSideSession.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/MessageLoop.h"

namespace talvo::test {

std::string RetrOpening(const std::string& name, std::uint64_t size) {
  return "150 Opening BINARY mode data connection for " + name + " (" + std::to_string(size) +
         " bytes).\r\n";
}

DataSideSession::DataSideSession(const ScriptedPeer::LoginReplies& login) {
  // Pieces of a split send must arrive as separate reads even on a loaded machine.
  peer.SetSplitPause(Millis(250));
  peer.Login(login);
}

ScriptedPeer& DataSideSession::ListingOpens(const std::string& pwdReply, const std::string& verb) {
  peer.Expect("PWD").Reply(pwdReply);
  return Opened(UpToCommand("TYPE A", verb).Reply(kListingOpening));
}

ScriptedPeer& DataSideSession::RetrOpens(const std::string& name, const std::string& opening) {
  return Opened(UpToCommand("TYPE I", "RETR " + name).Reply(opening));
}

ScriptedPeer& DataSideSession::StorOpens(const std::string& name) {
  return Opened(UpToCommand("TYPE I", "STOR " + name).Reply("150 Ok to send data.\r\n"));
}

ScriptedPeer& DataSideSession::Opened(ScriptedPeer& afterOpening) {
  // In passive mode the client connected before it sent the command.
  return passive ? afterOpening : afterOpening.DataConnect();
}

ScriptedPeer& DataSideSession::UpToCommand(const std::string& type, const std::string& command) {
  peer.Expect(type).Reply("200 Switching mode.\r\n");
  if (type == "TYPE I" && command.starts_with("RETR ")) peer.Expect("SIZE " + command.substr(5)).Reply(sizeReply);
  if (passive) return peer.Expect("EPSV").ReplyEpsv().DataAccept().Expect(command);
  const bool ipv6 = host.find(':') != std::string::npos && !host.starts_with("::ffff:");
  return peer.Expect(ipv6 ? "EPRT |2|" : "PORT ")
      .Reply("200 PORT command successful.\r\n")
      .Expect(command);
}

ScriptedPeer& DataSideSession::CwdNext() {
  return peer.Expect("CWD next").Reply("250 Directory next is current.\r\n");
}

bool DataSideSession::LogIn() {
  if (passive) ftp.DataConnectionMode = dcmPassive;
  ftp.SetFtpServer(host);
  ftp.FtpPort = peer.Port();
  ftp.UserName = "anna";
  ftp.UserPassword = "secret";
  peer.Start();
  ftp.Connect();
  const bool loggedIn = WaitFor("loggedIn");
  log.Clear();
  return loggedIn;
}

bool DataSideSession::List() {
  ftp.GetListing();
  return WaitFor("listingDone");
}

bool DataSideSession::Receive(const std::string& remote, const std::string& localName) {
  StartReceive(remote, localName);
  return WaitFor("fileReceived");
}

bool DataSideSession::Store(const std::string& localName, const std::string& remote) {
  StartStore(localName, remote);
  return WaitFor("fileStored");
}

void DataSideSession::StartReceive(const std::string& remote, const std::string& localName) {
  ftp.RemoteFile = remote;
  ftp.LocalFile = tree.PathOf(localName);
  ftp.ReceiveFile();
}

void DataSideSession::StartStore(const std::string& localName, const std::string& remote) {
  ftp.RemoteFile = remote;
  ftp.LocalFile = tree.PathOf(localName);
  ftp.StoreFile();
}

bool DataSideSession::WaitFor(const std::string& event, int ms) {
  WaitUntil([&] { return log.Count(event) > 0 || log.Count("quit") > 0; }, ms);
  return log.Count(event) > 0;
}

bool DataSideSession::WaitUntil(const std::function<bool()>& done, int ms) {
  return platform::MessageLoop::Current().RunUntil(done, ms);
}

void DataSideSession::OnInfo(FtpInfo which, std::function<void()> action) {
  TFtpInfoEvent logged = ftp.OnFtpInfo;
  ftp.OnFtpInfo = [logged, which, action = std::move(action)](TObject* sender, FtpInfo info, std::string addinfo) {
    if (logged) logged(sender, info, addinfo);
    if (info == which) action();
  };
}

void DataSideSession::ExpectCwdAnsweredByItsOwnReply() {
  log.Clear();
  ftp.ChangeDirectory("next");
  ASSERT_TRUE(WaitFor("directoryChanged")) << ::testing::PrintToString(log.Lines());
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"ready", "directoryChanged"}));
  const int reply = ReceivedAt("250 Directory next");
  EXPECT_GE(reply, 0) << "the 250 to CWD never arrived";
  EXPECT_GT(LineAt("directoryChanged"), reply) << "CWD was answered by an earlier reply: "
                                               << ::testing::PrintToString(log.Lines());
  EXPECT_TRUE(ftp.Success);
  EXPECT_TRUE(ftp.Connected);
}

int DataSideSession::ReceivedAt(const std::string& text) const {
  const auto& lines = log.Lines();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with("ftpiReceived:") && lines[i].find(text) != std::string::npos) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int DataSideSession::LineAt(const std::string& line) const {
  const auto& lines = log.Lines();
  const auto it = std::find(lines.begin(), lines.end(), line);
  return it == lines.end() ? -1 : static_cast<int>(it - lines.begin());
}

std::vector<std::string> DataSideSession::EventsWithoutProgress() const {
  std::vector<std::string> events = log.Events();
  std::erase_if(events, [](const std::string& e) { return e.starts_with("ftpiProgress:"); });
  return events;
}

std::string DataSideSession::PeerFailure() {
  if (!peer.WaitFinished(Millis(kWaitMs))) return "the peer did not end its script";
  return peer.Failure();
}

}  // namespace talvo::test
