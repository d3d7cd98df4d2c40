#include "tools/ListingParseMode.h"

#include <iostream>
#include <string>

#include "ftp/ListingParser.h"
#include "tools/CliOptions.h"

int ParseListing(const std::string& dialectName) {
  TFTPServerType dialect{};
  const bool mlsd = dialectName == kMlsdDialect;
  if (!mlsd) ServerTypeFromName(dialectName, dialect);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ListingEntry entry;
    if (mlsd ? ParseMlsdLine(line, entry) : ParseListingLine(dialect, line, entry)) {
      std::cout << (entry.IsDirectory ? "dir " : "file ") << entry.Name << '\n';
    } else {
      std::cout << "none\n";
    }
  }
  return 0;
}
