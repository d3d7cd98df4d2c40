// TSshAgent: the few requests of the SSH agent protocol a login needs (the keys the agent
// holds, a signature by one of them), over the agent's local socket. The agent is a local
// process that answers at once; each request waits for its answer within a bound, so that
// an agent that hangs costs a few seconds, never the session.
//
// libssh2's own agent client cannot be driven without blocking: in a non-blocking session
// it says "again" about the agent's socket, which the loop does not watch.
#pragma once

#include <string>
#include <vector>

class TSshAgent {
 public:
  static constexpr int kAnswerMs = 5000;

  struct Identity {
    std::string Blob;  // the public key as SSH sends it
    std::string Comment;
  };

  explicit TSshAgent(std::string socketPath) : path_(std::move(socketPath)) {}
  ~TSshAgent();
  TSshAgent(const TSshAgent&) = delete;
  TSshAgent& operator=(const TSshAgent&) = delete;

  // False when there is no agent there, or it would not say.
  bool ListIdentities(std::vector<Identity>& identities);
  // The signature of `data` by the key `blob`, without its algorithm's name (as libssh2
  // wants it); false when the agent refused.
  bool Sign(const std::string& blob, const std::string& data, std::string& signature);

 private:
  bool Connect();
  bool Transact(const std::string& request, std::string& answer);

  std::string path_;
  int fd_ = -1;
};
