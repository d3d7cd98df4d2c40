#include "session/DownloadRules.h"

std::int64_t PartToContinue(const TLocalFile& file, std::int64_t remoteSize, std::int64_t remoteModified) {
  const std::int64_t part = file.PartSize();
  if (part <= 0 || remoteSize <= part) return 0;
  if (remoteModified >= 0 && remoteModified > file.PartModified()) return 0;
  return part;
}

TDownloadEnd EndDownload(TLocalFile& file, std::int64_t expectedSize, std::int64_t resumedFrom, std::int64_t received,
                         bool endTrusted) {
  const bool whole = expectedSize >= 0 ? resumedFrom + received == expectedSize : endTrusted;
  if (!whole && resumedFrom > 0 && resumedFrom + received > expectedSize) {
    file.Discard();
    return TDownloadEnd::Incomplete;
  }
  // A target written in place is emptied even when no data came: the file is empty on the
  // server too.
  if (whole && file.Claim() && file.Commit()) return TDownloadEnd::Whole;
  file.Forget();
  return whole ? TDownloadEnd::WriteFailed : TDownloadEnd::Incomplete;
}
