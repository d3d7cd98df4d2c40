#include "session/DownloadRules.h"

std::int64_t PartToContinue(TLocalFile& file, std::int64_t remoteSize, std::int64_t remoteModified) {
  return file.ResumableFrom(remoteSize, remoteModified);
}

TDownloadEnd EndDownload(TLocalFile& file, std::int64_t expectedSize, std::int64_t resumedFrom, std::int64_t received,
                         bool endTrusted, int& error) {
  error = 0;
  const bool whole = expectedSize >= 0 ? resumedFrom + received == expectedSize : endTrusted;
  if (!whole) {
    if (expectedSize >= 0 && resumedFrom > 0 && resumedFrom + received > expectedSize) {
      file.Discard();  // the server did not go on where it was asked to
    } else {
      file.Forget();
    }
    return TDownloadEnd::Incomplete;
  }
  // A target written in place is emptied even when no data came: the file is empty on the
  // server too.
  error = file.Claim();
  if (error == 0) error = file.Commit();
  if (error == 0) return TDownloadEnd::Whole;
  file.Forget();
  return TDownloadEnd::WriteFailed;
}
