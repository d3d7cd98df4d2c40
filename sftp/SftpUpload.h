// TSftpUpload: one local file (opened for storing) to the server. It writes to a new
// temporary file beside the target ("NAME.part.XXXXXX") and, once that is whole, renames
// it into place, so that a cut upload never leaves a half file under the real name. Where
// the server will not make the temporary file, the target itself is written, as FTP does.
// A target that exists keeps its permissions. Writes go with libssh2's write-ahead,
// several requests in flight, a bounded amount per pass of the loop.
#pragma once

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "session/LocalFile.h"
#include "sftp/SftpTransfer.h"

class TSftpUpload : public TSftpTransfer {
 public:
  static constexpr std::size_t kBufferSize = 1024 * 1024;
  static constexpr int kWritesPerPass = 4;

  TSftpUpload(TSftpChannel& channel, std::string remotePath, TLocalFile& local, long localMode);
  ~TSftpUpload() override;

  TSshStatus Step() override;
  // Ends it now: the remote file is closed and the temporary one removed in the background.
  void Stop() override;
  std::int64_t Moved() const override { return acknowledged_; }
  // The name being written (the temporary one, or the target).
  const std::string& WrittenPath() const { return written_; }

  // Called once the remote file is open and the bytes begin to go.
  std::function<bool()> OnStarted;

 private:
  enum class Stage : std::uint8_t { StatTarget, OpenTemporary, OpenTarget, Write, Close, Rename, Replace, Done };
  TSshStatus StatTarget();
  TSshStatus Open(bool temporary);
  TSshStatus Write();
  TSshStatus Close();
  TSshStatus Rename();
  TSshStatus Replace();
  bool Fill();

  std::string target_;
  std::string temporary_;
  std::string written_;
  TLocalFile& local_;
  long mode_;
  Stage stage_ = Stage::StatTarget;
  LIBSSH2_SFTP_HANDLE* handle_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t start_ = 0;  // the first byte not yet acknowledged by the server
  std::size_t end_ = 0;    // the end of what was read from the local file
  bool localEnd_ = false;
  std::int64_t acknowledged_ = 0;
  std::int64_t size_;      // the local file's size when the upload began
  std::int64_t read_ = 0;  // bytes read from it so far
};

// "NAME.part.XXXXXX" beside `path`, the X random letters and digits.
std::string TemporaryUploadName(const std::string& path);
