// TSftpChannel: the SFTP subsystem over a logged-in SSH session, and the work that a stop
// leaves behind: handles still open (their outstanding replies are drained by closing
// them) and temporary files to remove. That work runs before the next request.
//
// libssh2 keeps several requests in flight on its own (read-ahead for reads, write-ahead
// for writes); every call here is non-blocking and is made again, with the same
// arguments, until it stops saying "again".
#pragma once

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <cstdint>
#include <deque>
#include <string>

#include "sftp/SshStatus.h"

class TSftpChannel {
 public:
  // How a request that did not succeed ended.
  enum class Failure : std::uint8_t {
    Refused,   // the server answered with a status: the request is refused, the session goes on
    Broken,    // the connection is gone
    Nonsense,  // the server's answer made no sense
  };

  explicit TSftpChannel(LIBSSH2_SESSION* session) : session_(session) {}
  ~TSftpChannel();
  TSftpChannel(const TSftpChannel&) = delete;
  TSftpChannel& operator=(const TSftpChannel&) = delete;

  TSshStatus Open();
  LIBSSH2_SFTP* Handle() const { return sftp_; }
  LIBSSH2_SESSION* Session() const { return session_; }

  Failure Classify(int rc) const;
  // The server's status code of the last refusal (LIBSSH2_FX_*).
  unsigned long ServerStatus() const;

  // Background work of a stopped transfer.
  void CloseLater(LIBSSH2_SFTP_HANDLE* handle);
  void RemoveLater(const std::string& path);
  bool Tidy() const { return work_.empty(); }
  // Advances the background work: Done once none is left (a failure only drops that item).
  TSshStatus TidyStep();

  // Between operations: takes in what the server sent meanwhile, so that libssh2 answers
  // its keep-alive requests (a server that hears nothing back ends an idle session). The
  // subsystem's own stream is left alone; its error stream is read and dropped.
  TSshStatus Idle();

  // Ends the subsystem (its channel closed); Done or Failed once over.
  TSshStatus Shutdown();

 private:
  struct Work {
    LIBSSH2_SFTP_HANDLE* handle = nullptr;  // to close; otherwise `path` to remove
    std::string path;
  };

  LIBSSH2_SESSION* session_;
  LIBSSH2_SFTP* sftp_ = nullptr;
  std::deque<Work> work_;
};

// Joins a folder and a name as the server sees paths ("/" between them, a name that is
// already absolute kept as it is).
std::string RemotePath(const std::string& folder, const std::string& name);
