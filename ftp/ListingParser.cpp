#include "ftp/ListingParser.h"

#include <string_view>
#include <utility>

std::string VmsPendingLine;

namespace {

constexpr char kBlank = ' ';

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Unix-like "ls -l" lines: the type letter in the first column, the name at the end.
bool ParseUnixLine(const std::string& line, ListingEntry& entry) {
  if (line.empty()) return false;
  bool isDirectory;
  switch (line[0]) {
    case '-':
    case 'f':
      isDirectory = false;
      break;
    case 'd':
    case 'l':  // a symbolic link is offered as a directory
      isDirectory = true;
      break;
    default:  // "total", headers, device entries
      return false;
  }
  if (BlankField(line, 1).empty()) return false;
  std::string name = LastWord(line);
  if (name.empty()) return false;  // nothing left before "->"
  entry.Name = std::move(name);
  entry.IsDirectory = isDirectory;
  return true;
}

// VMS lines: "NAME.EXT;version  size  date ...". A long name may stand alone on its line,
// with the rest on the next one, so such a line is held until the next line arrives.
bool ParseVmsLine(const std::string& line, ListingEntry& entry) {
  std::string joined;
  if (!VmsPendingLine.empty()) {
    // Appending to the pending text keeps a long run of held lines linear in cost.
    joined = std::move(VmsPendingLine);
    VmsPendingLine.clear();
    joined += line;
  } else {
    joined = line;
  }
  if (!Contains(joined, ";")) return false;

  std::string name = BlankField(joined, 0);
  if (name.empty()) {
    // Held for the next line, unless it has grown past any real entry: a line that keeps
    // an empty first field would otherwise gather every later line for ever.
    if (joined.size() <= kMaxVmsPendingLine) VmsPendingLine = std::move(joined);
    return false;
  }
  const auto semicolon = name.find(';');
  name.resize(semicolon == std::string::npos ? 0 : semicolon);  // the version goes

  const auto dir = name.find(".DIR");
  const bool isDirectory = dir != std::string::npos;
  if (isDirectory) name.resize(dir);

  entry.Name = std::move(name);
  entry.IsDirectory = isDirectory;
  return true;
}

// VM (CMS) lines: "FILENAME FILETYPE FM ...", offered as FILENAME.FILETYPE.
bool ParseVmLine(const std::string& line, ListingEntry& entry) {
  entry.Name = BlankField(line, 0) + "." + BlankField(line, 1);
  entry.IsDirectory = false;
  return true;
}

// VM/VPS lines: the second field is the name; summary lines carry one of the markers.
bool ParseVmVpsLine(const std::string& line, ListingEntry& entry) {
  if (Contains(line, "=") || Contains(line, "totals:") || Contains(line, " rf trks") ||
      Contains(line, "track limit")) {
    return false;
  }
  // Appended rather than "." + field: GCC 12 at -O3 sees a false overlap (-Wrestrict) in
  // the inlined insert of operator+(const char*, string&&).
  entry.Name.assign(1, '.');
  entry.Name += BlankField(line, 1);
  entry.IsDirectory = false;
  return true;
}

}  // namespace

std::string BlankField(const std::string& line, int n) {
  if (n < 0) return {};
  const std::string_view text(line);
  // A run of blanks counts as one blank: a field starts after a whole run.
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) {
    const auto blank = text.find(kBlank, start);
    if (blank == std::string_view::npos) return {};
    start = text.find_first_not_of(kBlank, blank);
    if (start == std::string_view::npos) return {};  // only blanks were left
  }
  const auto end = text.find(kBlank, start);
  if (end == std::string_view::npos) return {};  // the last field has no blank after it
  return std::string(text.substr(start, end - start));
}

std::string LastWord(const std::string& line) {
  std::string_view text(line);
  // The whole link target goes, however long: what is left of it would only make a
  // wrong name.
  const auto arrow = text.find("->");
  if (arrow != std::string_view::npos) text = text.substr(0, arrow);

  const auto lastNonBlank = text.find_last_not_of(kBlank);
  if (lastNonBlank == std::string_view::npos) return {};
  text = text.substr(0, lastNonBlank + 1);

  // Without a blank, what remains is the first column of the line (the type and
  // permissions), not a name: no name then.
  const auto blank = text.rfind(kBlank);
  if (blank == std::string_view::npos) return {};
  return std::string(text.substr(blank + 1));  // kept whole, however long
}

bool ParseListingLine(TFTPServerType dialect, const std::string& line, ListingEntry& entry) {
  try {
    switch (dialect) {
      case ftpstDefault:
      case ftpstUNIX:
      case ftpstULTRIX:
      case ftpstU5000:
      case ftpstSINTFTPD:
        return ParseUnixLine(line, entry);
      case ftpstVmsMultinet:
      case ftpstVmsUcx:
        return ParseVmsLine(line, entry);
      case ftpstVM:
        return ParseVmLine(line, entry);
      case ftpstVMVPS:
        return ParseVmVpsLine(line, entry);
      default:  // dialects whose listings are kept as raw lines only
        return false;
    }
  } catch (...) {
    // Only memory exhaustion can get here; the line then simply yields nothing.
    return false;
  }
}
