#include "ui/DesktopEntry.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

#include "ui/DetachedProcess.h"

namespace {

std::string Environment(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Home() {
  return Environment("HOME", "/");
}

// The folders that hold applications/ and their entries, the user's first.
std::vector<std::string> DataFolders() {
  std::vector<std::string> folders{Environment("XDG_DATA_HOME", Home() + "/.local/share")};
  for (const std::string& folder : Split(Environment("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':')) {
    folders.push_back(folder);
  }
  return folders;
}

// The keys and values of one group of an ini-style file, escapes undone (\s \n \t \r \\).
std::map<std::string, std::string> ReadGroup(const std::string& path, const std::string& group) {
  std::map<std::string, std::string> entries;
  std::ifstream in(path);
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inGroup || equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    std::string raw = line.substr(equals + 1);
    const std::size_t valueStart = raw.find_first_not_of(' ');
    raw.erase(0, valueStart == std::string::npos ? raw.size() : valueStart);
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\\' || i + 1 == raw.size()) {
        value += raw[i];
        continue;
      }
      const char next = raw[++i];
      value += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    }
    entries.emplace(key, value);  // the first of a repeated key counts
  }
  return entries;
}

std::string Lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string FindDesktopFile(const std::string& desktopId) {
  if (desktopId.find('/') != std::string::npos) return "";
  for (const std::string& folder : DataFolders()) {
    const std::string path = folder + "/applications/" + desktopId;
    if (std::ifstream(path).good()) return path;
  }
  return "";
}

// Splits an Exec value into arguments: blanks separate them, double quotes hold blanks,
// and inside quotes a backslash makes the next character plain.
std::vector<std::string> ExecArguments(const std::string& exec) {
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < exec.size()) {
        current += exec[++i];
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      inArgument = true;
      if (c == '"') {
        quoted = true;
      } else {
        current += c;
      }
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

}  // namespace

std::vector<std::string> DefaultApplicationsFor(const std::string& mimeType) {
  std::vector<std::string> folders{Environment("XDG_CONFIG_HOME", Home() + "/.config")};
  for (const std::string& folder : Split(Environment("XDG_CONFIG_DIRS", "/etc/xdg"), ':')) folders.push_back(folder);
  for (const std::string& folder : DataFolders()) folders.push_back(folder + "/applications");
  std::vector<std::string> lists;
  for (const std::string& folder : folders) {
    for (const std::string& desktop : Split(Environment("XDG_CURRENT_DESKTOP", ""), ':')) {
      lists.push_back(folder + "/" + Lowered(desktop) + "-mimeapps.list");
    }
    lists.push_back(folder + "/mimeapps.list");
  }
  std::vector<std::string> ids;
  for (const std::string& list : lists) {
    const auto defaults = ReadGroup(list, "Default Applications");
    const auto found = defaults.find(mimeType);
    if (found == defaults.end()) continue;
    for (const std::string& id : Split(found->second, ';')) {
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
  }
  return ids;
}

std::optional<std::vector<std::string>> DesktopApplicationCommand(const std::string& desktopId,
                                                                  const std::string& file) {
  const std::string path = FindDesktopFile(desktopId);
  if (path.empty()) return std::nullopt;
  auto entry = ReadGroup(path, "Desktop Entry");
  // No terminal to give it: an application that needs one is not what the user expects.
  if (entry["Hidden"] == "true" || entry["Terminal"] == "true") return std::nullopt;
  if (!entry["TryExec"].empty() && FindProgram(entry["TryExec"]).empty()) return std::nullopt;
  std::vector<std::string> command = ExpandExec(entry["Exec"], file);
  if (command.empty() || FindProgram(command[0]).empty()) return std::nullopt;
  return command;
}

std::vector<std::string> ExpandExec(const std::string& exec, const std::string& file) {
  std::vector<std::string> expanded;
  bool fileCodeSeen = false;
  for (const std::string& argument : ExecArguments(exec)) {
    std::string out;
    bool onlyCodes = true;
    for (std::size_t i = 0; i < argument.size(); ++i) {
      if (argument[i] != '%' || i + 1 == argument.size()) {
        out += argument[i];
        onlyCodes = false;
        continue;
      }
      const char code = argument[++i];
      if (code == '%') {
        out += '%';
        onlyCodes = false;
      } else if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
        fileCodeSeen = true;
        out += file;
      }
    }
    // An argument made only of field codes that stand for nothing here goes away.
    if (!(onlyCodes && out.empty())) expanded.push_back(out);
  }
  if (!fileCodeSeen && !file.empty() && !expanded.empty()) expanded.push_back(file);
  return expanded;
}
