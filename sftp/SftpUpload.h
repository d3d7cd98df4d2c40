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
#include "sftp/SftpChannel.h"
#include "sftp/SshStatus.h"

class TSftpUpload {
 public:
  static constexpr std::size_t kBufferSize = 1024 * 1024;
  static constexpr int kWritesPerPass = 4;

  enum class Result : std::uint8_t { None, Whole, LocalRead, Refused, Broken, Nonsense };

  TSftpUpload(TSftpChannel& channel, std::string remotePath, TLocalFile& local, long localMode);
  ~TSftpUpload();
  TSftpUpload(const TSftpUpload&) = delete;
  TSftpUpload& operator=(const TSftpUpload&) = delete;

  TSshStatus Step();
  // Ends it now: the remote file is closed and the temporary one removed in the background.
  void Stop();

  Result result() const { return result_; }
  int FailureCode() const { return failure_; }
  std::int64_t Sent() const { return acknowledged_; }
  // The name being written (the temporary one, or the target).
  const std::string& WrittenPath() const { return written_; }

  std::function<bool()> OnStarted;
  std::function<bool()> OnProgress;

 private:
  enum class Stage : std::uint8_t { StatTarget, OpenTemporary, OpenTarget, Write, Close, Rename, Replace, Done };
  TSshStatus Fail(int rc);
  TSshStatus End(Result result);
  TSshStatus StatTarget();
  TSshStatus Open(bool temporary);
  TSshStatus Write();
  TSshStatus Close();
  TSshStatus Rename();
  TSshStatus Replace();
  bool Fill();

  TSftpChannel& channel_;
  std::string target_;
  std::string temporary_;
  std::string written_;
  TLocalFile& local_;
  long mode_;
  Stage stage_ = Stage::StatTarget;
  Result result_ = Result::None;
  LIBSSH2_SFTP_HANDLE* handle_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  std::size_t start_ = 0;  // the first byte not yet acknowledged by the server
  std::size_t end_ = 0;    // the end of what was read from the local file
  bool localEnd_ = false;
  std::int64_t acknowledged_ = 0;
  std::int64_t size_;       // the local file's size when the upload began
  std::int64_t read_ = 0;   // bytes read from it so far
  int failure_ = 0;
};

// "NAME.part.XXXXXX" beside `path`, the X random letters and digits.
std::string TemporaryUploadName(const std::string& path);
