// The login, a part of TVelaFtp: the greeting, USER, PASS and ACCT (each value asked of the
// owner when it is missing), then SYST, FEAT, OPTS UTF8 and the initial directory. When the
// session is to be encrypted, AUTH TLS, the control connection's handshake and the check of
// the server's certificate come before USER (FtpLoginTls.cpp), PBSZ and PROT after it. It
// sends through the component's control connection and keeps only whether that
// connection's handshake is under way.
#pragma once

#include <string>
#include <vector>

#include "ftp/ControlStates.h"
#include "ftp/FtpReply.h"
#include "ftp/FtpTypes.h"
#include "session/KnownServersWriter.h"
#include "transport/TlsTypes.h"

class TVelaFtp;

class TFtpLogin {
 public:
  explicit TFtpLogin(TVelaFtp& ftp) : ftp_(ftp) {}

  void Restart() { tlsPending_ = false; }
  // AUTH TLS was accepted and the control connection's handshake is under way.
  bool TlsPending() const { return tlsPending_; }

  void TakeLoginReply(const TFtpReply& Reply);
  void TakeTlsReply(const TFtpReply& Reply);
  // One line inside the FEAT reply.
  void NoteFeature(const std::string& Line);

  // The TLS client options of this session, for the control connection and each data one.
  TTlsClientOptions TlsOptions() const;

 private:
  void SendLoginCommand(const std::string& command, const std::string& value, TControlState nextState);
  void SendUser();
  void AfterLogin();
  void Refuse();
  void Cancel();
  void EnterInitialDirectory();
  void End();

  void StartControlTls();
  void ControlTlsDone();
  void DataWithoutProtection();
  std::vector<std::string> KnownServerNames() const;
  bool AcceptCertificate();

  TVelaFtp& ftp_;
  bool tlsPending_ = false;
  TKnownServersWriter serverMemory_;  // remembers a server that did TLS, never waiting on the file's lock
};
