// Fuzzes the listing parser: the first byte picks the dialect, the rest is cut at LF into
// lines that are parsed in order (VMS lines may join across lines, as in a real listing).
// Beyond not crashing, it checks what holds for every line whatever the dialect.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ftp/ListingParser.h"

namespace {

void Require(bool condition, const char* what, const std::string& line) {
  if (condition) return;
  std::fprintf(stderr, "listing parser: %s (line of %zu bytes)\n", what, line.size());
  std::abort();
}

bool HasRule(TFTPServerType dialect) {
  switch (dialect) {
    case ftpstDefault: case ftpstUNIX: case ftpstULTRIX: case ftpstU5000: case ftpstSINTFTPD:
    case ftpstVmsMultinet: case ftpstVmsUcx: case ftpstVM: case ftpstVMVPS:
      return true;
    default:
      return false;
  }
}

bool IsVms(TFTPServerType dialect) { return dialect == ftpstVmsMultinet || dialect == ftpstVmsUcx; }

bool IsUnix(TFTPServerType dialect) { return HasRule(dialect) && dialect <= ftpstSINTFTPD; }

void CheckHelpers(const std::string& line, int n) {
  const std::string word = LastWord(line);
  Require(word.find(' ') == std::string::npos, "LastWord kept a blank", line);
  Require(word.find("->") == std::string::npos, "LastWord kept a link arrow", line);
  Require(line.find(word) != std::string::npos, "LastWord is not part of the line", line);
  const std::string field = BlankField(line, n);
  Require(field.find(' ') == std::string::npos, "BlankField kept a blank", line);
  Require(line.find(field) != std::string::npos, "BlankField is not part of the line", line);
}

void CheckLine(TFTPServerType dialect, const std::string& line) {
  const std::string pendingBefore = VmsPendingLine;
  ListingEntry entry;
  const bool yields = ParseListingLine(dialect, line, entry);
  if (!IsVms(dialect)) Require(VmsPendingLine == pendingBefore, "a non-VMS line touched VmsPendingLine", line);
  ListingEntry machine;
  if (ParseMlsdLine(line, machine)) Require(line.ends_with(" " + machine.Name), "an MLSD name that does not end the line", line);
  // A Windows-style line gives an entry in every dialect (one without rules gives no other):
  // its name ends the line.
  ListingEntry windows;
  if (ParseListingLine(ftpstAutoDetect, line, windows)) {
    Require(yields && entry.Name == windows.Name && line.ends_with(entry.Name), "a Windows-style line misread", line);
    return;
  }
  if (!HasRule(dialect)) Require(!yields, "a dialect without rules gave an entry", line);
  if (!yields) return;
  // Unix names keep their blanks; the names of the other rules are fields.
  if (!IsUnix(dialect)) Require(entry.Name.find(' ') == std::string::npos, "a name kept a blank", line);
  if (IsUnix(dialect)) {
    Require(!entry.Name.empty(), "a Unix entry without a name", line);
    Require(line.find(entry.Name) != std::string::npos, "a Unix name that is not in the line", line);
    const char type = line[0];
    Require(type == '-' || type == 'f' || type == 'd' || type == 'l', "a Unix entry of an unknown type", line);
    Require(entry.IsDirectory == (type == 'd' || type == 'l'), "a Unix entry of the wrong kind", line);
  } else if (IsVms(dialect)) {
    Require(VmsPendingLine.empty(), "a VMS entry left a pending line", line);
    Require(entry.Name.find(';') == std::string::npos, "a VMS name kept its version", line);
  } else {
    Require(!entry.IsDirectory, "a VM entry offered as a directory", line);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto dialect = static_cast<TFTPServerType>(data[0] % kServerTypeCount);
  VmsPendingLine.clear();
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string line(rest.substr(0, end));
    CheckHelpers(line, static_cast<int>(line.size() % 7));
    CheckLine(dialect, line);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  VmsPendingLine.clear();
  return 0;
}
