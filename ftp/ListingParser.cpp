#include "ftp/ListingParser.h"

#include <chrono>
#include <string_view>
#include <utility>

std::string VmsPendingLine;

namespace {

constexpr char kBlank = ' ';
constexpr std::size_t kNone = std::string_view::npos;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lowerCase) {
  if (text.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != lowerCase[i]) return false;
  }
  return true;
}

// A count of bytes in decimal, of up to 18 digits (less than an exabyte); -1 when the
// text is not one.
std::int64_t SizeOf(std::string_view text) {
  if (text.empty() || text.size() > 18) return -1;
  std::int64_t size = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return -1;
    size = size * 10 + (c - '0');
  }
  return size;
}

bool IsMonthName(std::string_view word) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  if (word.size() != 3) return false;
  for (const std::string_view month : kMonths) {
    if (EqualsIgnoringCase(word, month)) return true;
  }
  return false;
}

bool IsDayOfMonth(std::string_view word) {
  return (word.size() == 1 || word.size() == 2) && AllDigits(word);
}

// "12:00" or "9:05" (a recent change) or "1999" (an older one).
bool IsTimeOrYear(std::string_view word) {
  if (word.size() == 4 && AllDigits(word)) return true;
  const std::size_t colon = word.find(':');
  return (colon == 1 || colon == 2) && word.size() == colon + 3 && AllDigits(word.substr(0, colon)) &&
         AllDigits(word.substr(colon + 1));
}

// Where the name begins on a Unix line: one blank after the date, which is found by its
// shape (a month name, a day, then a time or a year) wherever the columns before it
// stand, so that lines with or without a group column and with sizes of any width all
// work. kNone when no date is followed by a blank. `size` gets the column before the date
// when it is a number.
std::size_t NameStart(std::string_view line, std::int64_t& size) {
  // The last three words seen: the size, the month and the day when `word` is the time.
  std::string_view third, second, first;
  const std::size_t length = line.size();
  std::size_t at = line.find(kBlank);  // after the type and permissions
  while (at != kNone) {
    while (at < length && line[at] == kBlank) ++at;
    const std::size_t start = at;
    at = line.find(kBlank, start);
    const std::string_view word = line.substr(start, at == kNone ? kNone : at - start);
    if (at != kNone && IsMonthName(second) && IsDayOfMonth(first) && IsTimeOrYear(word)) {
      size = SizeOf(third);
      return at + 1;
    }
    third = second;
    second = first;
    first = word;
  }
  return kNone;
}

// Unix-like "ls -l" lines: the type letter in the first column, the name after the date;
// without a date, the last word of the line.
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
  std::int64_t size = -1;
  const std::size_t nameStart = NameStart(line, size);
  std::string name;
  if (nameStart == kNone) {
    // A line with a date always has a second field; this one must show it.
    if (BlankField(line, 1).empty()) return false;
    name = LastWord(line);
  } else {
    // The whole rest, blanks and "->" included; only a link's " -> target" goes.
    std::string_view rest = std::string_view(line).substr(nameStart);
    if (line[0] == 'l') rest = rest.substr(0, rest.find(" -> "));
    name = rest;
  }
  if (name.empty()) return false;  // nothing left before "->"
  entry.Name = std::move(name);
  entry.IsDirectory = isDirectory;
  entry.Facts.Size = size;
  return true;
}

// Skips the digits from `pos`; how many there were.
std::size_t SkipDigits(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  return pos - start;
}

// Skips `c` at `pos`; false when it is not there.
bool Skip(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

// Skips a run of blanks from `pos`; false when there is none, or nothing after it.
bool SkipBlanks(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  while (pos < text.size() && text[pos] == kBlank) ++pos;
  return pos > start && pos < text.size();
}

// Windows-style lines, "12-07-26  04:31PM       <DIR>          My Folder" or
// "12-07-2026  16:31   1234 report.txt": the date, the time (12- or 24-hour), <DIR> or the
// size, and the rest of the line is the name.
bool ParseWindowsLine(std::string_view line, ListingEntry& entry) {
  std::size_t pos = 0;
  if (SkipDigits(line, pos) != 2 || !Skip(line, pos, '-') || SkipDigits(line, pos) != 2 || !Skip(line, pos, '-')) {
    return false;
  }
  const std::size_t yearDigits = SkipDigits(line, pos);
  if ((yearDigits != 2 && yearDigits != 4) || !SkipBlanks(line, pos)) return false;
  const std::size_t hourDigits = SkipDigits(line, pos);
  if (hourDigits < 1 || hourDigits > 2 || !Skip(line, pos, ':') || SkipDigits(line, pos) != 2) return false;
  if (EqualsIgnoringCase(line.substr(pos, 2), "am") || EqualsIgnoringCase(line.substr(pos, 2), "pm")) pos += 2;
  if (!SkipBlanks(line, pos)) return false;
  const std::size_t columnEnd = line.find(kBlank, pos);
  if (columnEnd == kNone) return false;
  const std::string_view column = line.substr(pos, columnEnd - pos);
  const bool isDirectory = column == "<DIR>";
  if (!isDirectory && !AllDigits(column)) return false;
  pos = columnEnd;
  if (!SkipBlanks(line, pos)) return false;
  entry.Name.assign(line.substr(pos));
  entry.IsDirectory = isDirectory;
  entry.Facts.Size = isDirectory ? -1 : SizeOf(column);
  return true;
}

}  // namespace

std::int64_t FtpTimeValue(std::string_view value) {
  if (value.size() < 14 || !AllDigits(value.substr(0, 14)) ||
      (value.size() > 14 && (value[14] != '.' || !AllDigits(value.substr(15))))) {
    return -1;
  }
  const auto number = [value](std::size_t at, std::size_t count) {
    int n = 0;
    for (std::size_t i = at; i < at + count; ++i) n = n * 10 + (value[i] - '0');
    return n;
  };
  using namespace std::chrono;
  const year_month_day date{year(number(0, 4)), month(static_cast<unsigned>(number(4, 2))),
                            day(static_cast<unsigned>(number(6, 2)))};
  const int hours = number(8, 2), minutes = number(10, 2), seconds = number(12, 2);
  if (!date.ok() || hours > 23 || minutes > 59 || seconds > 60) return -1;
  return duration_cast<std::chrono::seconds>(sys_days(date).time_since_epoch()).count() + hours * 3600 +
         minutes * 60 + seconds;
}

namespace {

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
    entry.Facts = {};
    if (ParseWindowsLine(line, entry)) return true;
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

namespace {

// FNV-1a of the server's "unique" text (never 0).
std::uint64_t IdentityOf(std::string_view unique) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : unique) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash == 0 ? 1 : hash;
}

}  // namespace

bool ParseMlsdLine(const std::string& line, ListingEntry& entry) {
  try {
    entry = ListingEntry{};
    // The facts end at the first blank; the name is all the rest, blanks included.
    const std::size_t blank = line.find(kBlank);
    if (blank == std::string::npos || blank + 1 == line.size()) return false;
    std::string_view facts(line.data(), blank);
    // Every fact ends with ";": anything else ("total 3") is no entry.
    if (!facts.empty() && facts.back() != ';') return false;
    std::string_view type;
    while (!facts.empty()) {
      const std::size_t semicolon = facts.find(';');
      const std::string_view fact = facts.substr(0, semicolon);
      facts = semicolon == kNone ? std::string_view() : facts.substr(semicolon + 1);
      const std::size_t equals = fact.find('=');
      if (equals == kNone) continue;
      const std::string_view name = fact.substr(0, equals);
      const std::string_view value = fact.substr(equals + 1);
      if (EqualsIgnoringCase(name, "type")) {
        type = value;
      } else if (EqualsIgnoringCase(name, "size")) {
        entry.Facts.Size = SizeOf(value);
      } else if (EqualsIgnoringCase(name, "modify")) {
        entry.Facts.Modified = FtpTimeValue(value);
      } else if (EqualsIgnoringCase(name, "unique")) {
        entry.Facts.Identity = IdentityOf(value);
      }
    }
    if (EqualsIgnoringCase(type, "cdir") || EqualsIgnoringCase(type, "pdir")) return false;
    // Folders, and links (OS.unix=slink:...) or types unknown here, which are offered as
    // directories like the links of a Unix listing.
    entry.IsDirectory = !EqualsIgnoringCase(type, "file");
    entry.Name.assign(line, blank + 1);
    return true;
  } catch (...) {
    return false;  // memory exhaustion: the line yields nothing
  }
}
