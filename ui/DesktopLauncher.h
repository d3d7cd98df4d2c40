// TDesktopLauncher: the programs the local pane starts on a file, the desktop's text
// editor and the default application of the file's type, through GIO (which reads the
// desktop's defaults and application entries, and starts an application the way its
// entry says: over D-Bus, in a terminal, with its own arguments). Never a shell in
// between; whatever happens, nothing is reported.
//
// Each can be set to an argument vector to which the file is added, started detached
// instead (tests point the window at stand-in programs this way). Left empty:
//  - the editor is the desktop's default application for text/plain, else the first of a
//    few well-known graphical editors found on PATH;
//  - the opener is the desktop's default application for the file's type, else xdg-open.
#pragma once

#include <string>
#include <vector>

class TDesktopLauncher {
 public:
  std::vector<std::string> Editor;
  std::vector<std::string> Opener;

  // Starts the editor on `path`, or with no file when `path` is empty.
  void EditText(const std::string& path) const;
  // Opens `path` with its default application; nothing for an empty path.
  void Open(const std::string& path) const;
};
