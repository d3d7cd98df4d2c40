// TSshAuth: logs the session in as the user's SSH tools do: the keys of a running ssh-agent,
// then the user's own key files (a passphrase asked for when a key has one), then the
// password, then keyboard-interactive (its hidden prompts answered with the password),
// each only where the server offers that method. Step() is called again on every event
// until it is Done or Failed; Tried() then says which ways were tried.
#pragma once

#include <libssh2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sftp/SshAgent.h"
#include "sftp/SshStatus.h"

class TSshAuth {
 public:
  // Asks the owner for a value (the password, or a key's passphrase, `key` naming the key);
  // false when the session ended meanwhile. An empty answer skips that way.
  using TAsk = std::function<bool(bool passphrase, const std::string& key, std::string& value)>;

  TSshAuth(LIBSSH2_SESSION* session, std::string user, std::string agentSocket, std::vector<std::string> keyFiles,
           std::string& password, TAsk ask);
  TSshAuth(const TSshAuth&) = delete;
  TSshAuth& operator=(const TSshAuth&) = delete;

  TSshStatus Step();

  // The ways tried, one a line: "agent", a key file's path, "password",
  // "keyboard-interactive"; then "offered:" and the methods the server named.
  std::string Tried() const;
  // The way that went through (as in Tried()).
  const std::string& Accepted() const { return accepted_; }
  // The session ended while the owner was asked something: stop at once.
  bool Abandoned() const { return abandoned_; }

  // Whether a private key file is protected by a passphrase (PEM "ENCRYPTED" or an OpenSSH
  // key whose cipher is not "none").
  static bool KeyFileEncrypted(const std::string& path);

 private:
  enum class Stage : std::uint8_t { List, Agent, Keys, Password, Interactive, Refused };

  TSshStatus List();
  TSshStatus Agent();
  TSshStatus Keys();
  TSshStatus Password();
  TSshStatus Interactive();
  bool Offered(const char* method) const;
  void Note(const std::string& way);
  TSshStatus Accept(const std::string& way);
  static int SignWithAgent(LIBSSH2_SESSION*, unsigned char** sig, size_t* length, const unsigned char* data,
                           size_t dataLength, void** abstract);
  static void Respond(const char*, int, const char*, int, int count, const LIBSSH2_USERAUTH_KBDINT_PROMPT* prompts,
                      LIBSSH2_USERAUTH_KBDINT_RESPONSE* responses, void** abstract);

  LIBSSH2_SESSION* session_;
  std::string user_;
  std::string agentSocket_;
  std::vector<std::string> keyFiles_;
  std::string& password_;
  TAsk ask_;

  Stage stage_ = Stage::List;
  std::string offered_;
  std::vector<std::string> tried_;
  std::string accepted_;
  bool abandoned_ = false;
  bool passwordRefused_ = false;

  std::unique_ptr<TSshAgent> agent_;
  std::vector<TSshAgent::Identity> identities_;
  std::size_t identity_ = 0;
  void* self_ = this;  // handed to the signing callback

  std::size_t key_ = 0;
  bool keyPending_ = false;
  std::string passphrase_;
};
