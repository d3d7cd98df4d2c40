#include "ui/DesktopLauncher.h"

#include <gio/gio.h>

#include "ui/DetachedProcess.h"

namespace {

// Graphical editors of the common desktops, for a desktop that names none for plain text.
const char* const kKnownEditors[] = {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad",
                                     "pluma", "xed", "featherpad", "geany", "leafpad"};

bool StartWithFile(const std::vector<std::string>& command, const std::string& path) {
  std::vector<std::string> argv;
  argv.reserve(command.size() + 1);  // grown in place, GCC 12 at -O3 sees a false array-bounds fault
  argv.insert(argv.end(), command.begin(), command.end());
  if (!path.empty()) argv.push_back(path);
  return StartDetached(argv);
}

// GIO's errors are dropped: the caller falls back, and the window reports nothing.
bool StartDesktopEditor(const std::string& path) {
  g_autoptr(GAppInfo) editor = g_app_info_get_default_for_type("text/plain", FALSE);
  if (editor == nullptr) return false;
  g_autolist(GFile) files = nullptr;
  if (!path.empty()) files = g_list_append(files, g_file_new_for_path(path.c_str()));
  return g_app_info_launch(editor, files, nullptr, nullptr);
}

bool OpenWithDefaultApplication(const std::string& path) {
  g_autoptr(GFile) file = g_file_new_for_path(path.c_str());
  g_autofree char* uri = g_file_get_uri(file);
  return g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
}

}  // namespace

void TDesktopLauncher::EditText(const std::string& path) const {
  if (!Editor.empty()) {
    StartWithFile(Editor, path);
    return;
  }
  if (StartDesktopEditor(path)) return;
  for (const char* editor : kKnownEditors) {
    if (StartWithFile({editor}, path)) return;
  }
}

void TDesktopLauncher::Open(const std::string& path) const {
  if (path.empty()) return;
  if (!Opener.empty()) {
    StartWithFile(Opener, path);
  } else if (!OpenWithDefaultApplication(path)) {
    StartWithFile({"xdg-open"}, path);
  }
}
