#include "sftp/SftpTransfer.h"

TSshStatus TSftpTransfer::Fail(int rc) {
  failure_ = rc;
  switch (channel_.Classify(rc)) {
    case TSftpChannel::Failure::Refused:
      return End(Result::Refused);
    case TSftpChannel::Failure::Broken:
      return End(Result::Broken);
    case TSftpChannel::Failure::Nonsense:
      break;
  }
  return End(Result::Nonsense);
}

TSshStatus TSftpTransfer::End(Result result) {
  result_ = result;
  if (result != Result::Whole) Stop();
  return result == Result::Whole ? TSshStatus::Done : TSshStatus::Failed;
}
