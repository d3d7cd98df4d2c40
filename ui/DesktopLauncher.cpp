#include "ui/DesktopLauncher.h"

#include "ui/DesktopEntry.h"
#include "ui/DetachedProcess.h"

namespace {

// Graphical editors of the common desktops, for a desktop that names no default.
const char* const kKnownEditors[] = {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad",
                                     "pluma", "xed", "featherpad", "geany", "leafpad"};

std::vector<std::string> WithFile(std::vector<std::string> command, const std::string& path) {
  if (!path.empty()) command.push_back(path);
  return command;
}

}  // namespace

std::vector<std::string> TDesktopLauncher::EditorCommand(const std::string& path) const {
  if (!Editor.empty()) return WithFile(Editor, path);
  for (const std::string& id : DefaultApplicationsFor("text/plain")) {
    if (auto command = DesktopApplicationCommand(id, path)) return *command;
  }
  for (const char* editor : kKnownEditors) {
    if (!FindProgram(editor).empty()) return WithFile({editor}, path);
  }
  return {};
}

std::vector<std::string> TDesktopLauncher::OpenerCommand(const std::string& path) const {
  if (!Opener.empty()) return WithFile(Opener, path);
  if (!FindProgram("xdg-open").empty()) return {"xdg-open", path};
  if (!FindProgram("gio").empty()) return {"gio", "open", path};
  return {};
}

void TDesktopLauncher::EditText(const std::string& path) const {
  const std::vector<std::string> command = EditorCommand(path);
  if (!command.empty()) StartDetached(command);
}

void TDesktopLauncher::Open(const std::string& path) const {
  if (path.empty()) return;
  const std::vector<std::string> command = OpenerCommand(path);
  if (!command.empty()) StartDetached(command);
}
