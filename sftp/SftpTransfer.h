// TSftpTransfer: what a download and an upload share: the step the component drives, the
// stop, how it ended, and the bytes moved so far.
#pragma once

#include <cstdint>
#include <functional>

#include "sftp/SftpChannel.h"
#include "sftp/SshStatus.h"

class TSftpTransfer {
 public:
  // How it ended (once Step() said Done or Failed).
  enum class Result : std::uint8_t {
    None,        // not ended, or stopped
    Whole,       // the file arrived whole
    Incomplete,  // a download that ended short (its part kept)
    LocalWrite,  // the local file could not be written
    LocalRead,   // the local file could not be read
    Refused,     // the server refused a request
    Broken,      // the connection is gone
    Nonsense,    // the server's answer made no sense
  };

  explicit TSftpTransfer(TSftpChannel& channel) : channel_(channel) {}
  virtual ~TSftpTransfer() = default;
  TSftpTransfer(const TSftpTransfer&) = delete;
  TSftpTransfer& operator=(const TSftpTransfer&) = delete;

  virtual TSshStatus Step() = 0;
  // Ends it now, leaving what is left to close to the channel's background work.
  virtual void Stop() = 0;
  // The bytes moved (received, or acknowledged by the server).
  virtual std::int64_t Moved() const = 0;

  Result result() const { return result_; }
  // Why it failed: libssh2's code, or for LocalWrite and LocalRead the system's error (see
  // LocalErrors.h).
  int FailureCode() const { return failure_; }

  // Called after every block; false when the owner ended the session meanwhile (nothing
  // more may be touched then).
  std::function<bool()> OnProgress;

 protected:
  // The failure of a libssh2 call, classified; the transfer is stopped.
  TSshStatus Fail(int rc);
  TSshStatus End(Result result);
  TSshStatus EndLocal(Result result, int error) {
    failure_ = error;
    return End(result);
  }

  TSftpChannel& channel_;
  Result result_ = Result::None;
  int failure_ = 0;
};
