// TDesktopLauncher: the programs the local pane starts on a file, a graphical text editor
// and the opener that opens a file with its default application. Both are started
// detached, with an argument vector (never a shell), and report nothing.
//
// Each can be set to an argument vector to which the file is added (tests point the
// window at stand-in programs this way). Left empty, they are looked up at each use:
//  - the editor: the desktop's default application for text/plain (its mimeapps.list
//    files and the application's desktop entry), else the first of a few well-known
//    graphical editors found on PATH;
//  - the opener: xdg-open, else "gio open".
// When nothing is found, nothing starts.
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

  // The argument vectors used for `path`, empty when none is found.
  std::vector<std::string> EditorCommand(const std::string& path) const;
  std::vector<std::string> OpenerCommand(const std::string& path) const;
};
