// Turns one line of a remote directory listing into at most one entry (a name and whether
// it is a directory), by the rules of the server's dialect, or by the machine-readable
// form of MLSD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/FtpTypes.h"
#include "session/ListingFacts.h"

// An FTP time ("YYYYMMDDHHMMSS" in UTC, maybe with a fraction of a second after a full
// stop), as MLSD facts and MDTM replies give it, in seconds since 1970; -1 when the text is
// not one.
std::int64_t FtpTimeValue(std::string_view value);

struct ListingEntry {
  std::string Name;
  bool IsDirectory = false;
  ListingFacts Facts;
};

// Returns true and fills entry when the line yields one. Never throws. Its only side
// effect is on VmsPendingLine. Lines in the Windows style ("12-07-26  04:31PM  <DIR>  x")
// are read whatever the dialect.
bool ParseListingLine(TFTPServerType dialect, const std::string& line, ListingEntry& entry);

// One line of an MLSD listing: "fact=value;fact=value; name". The current and parent
// directories (type cdir and pdir) yield nothing; a type other than file or dir is taken
// as a link, offered as a directory like the links of the Unix rule. Never throws.
bool ParseMlsdLine(const std::string& line, ListingEntry& entry);

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
