// Where a download into a path really goes, decided before anything is sent. A symbolic
// link of this user is followed to the file it names (link after link); one of another
// user is never written through: the download replaces the link itself. Anything but a
// plain file (a folder, a pipe, a device) is refused, and so is a file this user may not
// write, which replacing it would get round.
#pragma once

#include <sys/types.h>

#include <string>

struct TReceiveTarget {
  int Error = 0;             // 0, or why the download is refused (see LocalErrors.h)
  std::string Path;          // the file the download replaces
  bool Exists = false;
  bool IsLink = false;       // another user's link, which the download replaces
  mode_t Mode = 0;           // the permissions the downloaded file gets (the old file's)
  // It is another user's, in a shared folder (sticky) of another user: only its owner may
  // replace it, so a download can only write into it.
  bool OnlyWritable = false;
};

TReceiveTarget ResolveReceiveTarget(const std::string& path);

// The folder of a path ("." for a bare name) and its last name.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);
