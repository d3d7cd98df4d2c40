// Turns one line of a remote directory listing into at most one entry (a name and whether
// it is a directory), by the rules of the server's dialect.
#pragma once

#include <cstddef>
#include <string>

#include "ftp/FtpTypes.h"

struct ListingEntry {
  std::string Name;
  bool IsDirectory = false;
};

// Returns true and fills entry when the line yields one. Never throws. Its only side
// effect is on VmsPendingLine.
bool ParseListingLine(TFTPServerType dialect, const std::string& line, ListingEntry& entry);

// The name taken from the end of a line: the link target ("->" on) cut, trailing blanks
// removed, the text after the last blank.
std::string LastWord(const std::string& line);

// Field N (from 0) of a line whose runs of blanks count as one blank; a field is found
// only when a blank follows it.
std::string BlankField(const std::string& line, int n);

// A VMS line whose name stood alone, waiting for the line that carries its size and date.
// Shared by every component in the program.
extern std::string VmsPendingLine;
// Longest text held in VmsPendingLine; anything longer is dropped.
constexpr std::size_t kMaxVmsPendingLine = 10000;
