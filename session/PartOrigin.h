// Where a download's part came from: the server, port and user, the file's path there, and the
// size and last change the server gave for it when the part was begun, with the local file
// it is the part of. A part is continued only by a download of that same file, unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TPartOrigin {
  std::string Server;      // as typed (compared without regard to case)
  std::uint16_t Port = 0;
  std::string User;
  std::string RemotePath;  // absolute; empty: not known
  std::string LoginPath;   // from "~", the login's folder (see RemotePlace.h); empty: not known
  std::int64_t Size = -1;  // -1: not known
  std::int64_t Modified = -1;  // seconds since 1970 UTC; -1: not known
  std::string Target;      // the name of the local file in its folder

  // True when a part begun for `earlier` may be continued by this download: every fact is
  // known on both sides and the same.
  bool Continues(const TPartOrigin& earlier) const;

  // One line per field, escaped so that no value can make another line; Parse reads it
  // back (nothing for text that is not a mark of this program).
  std::string Text() const;
  static std::optional<TPartOrigin> Parse(std::string_view text);
};
