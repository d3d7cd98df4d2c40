#include "ftp/ListingReader.h"

void TListingReader::Clear() {
  remainder_.clear();
  skipping_ = false;
  bytes_ = 0;
}

bool TListingReader::Append(std::string_view text, const TLineHandler& onLine) {
  bytes_ += static_cast<std::int64_t>(text.size());
  if (TooLarge()) return false;
  remainder_.append(text);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = remainder_.find("\r\n", start);
    if (end == std::string::npos) break;
    const std::size_t lineStart = start;
    start = end + 2;
    if (skipping_ || end - lineStart > kMaxLine) {
      skipping_ = false;  // an overlong line, or the tail of one, is dropped
      continue;
    }
    if (!onLine(remainder_.substr(lineStart, end - lineStart))) return false;
  }
  remainder_.erase(0, start);
  const bool endsWithCr = !remainder_.empty() && remainder_.back() == '\r';
  if (remainder_.size() - (endsWithCr ? 1 : 0) > kMaxLine) {
    // A line that never ends is dropped, keeping a CR that may begin its CR LF.
    remainder_.assign(endsWithCr ? "\r" : "");
    skipping_ = true;
  }
  return true;
}
