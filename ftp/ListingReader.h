// A listing's text cut into lines as it comes. Only CR LF ends a line, wherever the reads
// split it; a line longer than kMaxLine is dropped whole (its tail included), and the whole
// listing is bounded by kMaxBytes, so that a server that never ends a line, or a listing,
// cannot grow memory without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TListingReader {
 public:
  static constexpr std::size_t kMaxLine = 10000;
  static constexpr std::int64_t kMaxBytes = std::int64_t{128} << 20;

  explicit TListingReader(std::int64_t maxBytes = kMaxBytes) : maxBytes_(maxBytes) {}

  // Called with each complete line; false stops the reading at once (the owner's handler
  // ended the session meanwhile).
  using TLineHandler = std::function<bool(std::string line)>;

  void Clear();
  // False when a handler stopped it, or the listing has gone past its bound (nothing of
  // the text that went past it is handed on).
  bool Append(std::string_view text, const TLineHandler& onLine);
  bool TooLarge() const { return bytes_ > maxBytes_; }

 private:
  std::int64_t maxBytes_;
  std::string remainder_;  // text not yet ended by CR LF
  bool skipping_ = false;  // the rest of an overlong line is dropped up to its CR LF
  std::int64_t bytes_ = 0;
};
