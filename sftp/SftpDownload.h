// TSftpDownload: one file from the server into a local file already opened for receiving
// (see LocalFile.h). It opens the remote file, asks its size and time (FSTAT), continues
// the local part of an earlier try from its end where the rules allow (DownloadRules.h),
// and reads with libssh2's read-ahead, several requests in flight, a bounded amount per
// pass of the loop. The server's end of file ends it; the local file is then settled by
// the same rules as every download.
#pragma once

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "session/DownloadRules.h"
#include "session/LocalFile.h"
#include "sftp/SftpTransfer.h"

class TSftpDownload : public TSftpTransfer {
 public:
  // Bytes asked for in one read call; libssh2 keeps four times as much in flight.
  static constexpr std::size_t kReadSize = 256 * 1024;
  static constexpr int kReadsPerPass = 4;

  TSftpDownload(TSftpChannel& channel, std::string remotePath, TLocalFile& local);
  ~TSftpDownload() override;

  TSshStatus Step() override;
  // Ends it now: the local part is kept, the remote file is closed in the background.
  void Stop() override;
  std::int64_t Moved() const override { return received_; }

  std::int64_t ExpectedSize() const { return expected_; }
  std::int64_t ResumedFrom() const { return resumedFrom_; }

  // Called once the size is known and the transfer begins, with the offset it goes on
  // from; false when the owner ended the session meanwhile.
  std::function<bool(std::int64_t resumedFrom)> OnStarted;

 private:
  enum class Stage : std::uint8_t { Open, Stat, Read, Close, Settled };
  TSshStatus Open();
  TSshStatus Stat();
  TSshStatus Read();
  TSshStatus Close();

  std::string path_;
  TLocalFile& local_;
  Stage stage_ = Stage::Open;
  LIBSSH2_SFTP_HANDLE* handle_ = nullptr;
  std::int64_t expected_ = -1;
  std::int64_t modified_ = -1;
  std::int64_t resumedFrom_ = 0;
  std::int64_t received_ = 0;
  std::unique_ptr<char[]> buffer_;
};
