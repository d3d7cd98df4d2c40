// The window's local pane on a throw-away folder tree: drives, tree and file list, rename,
// delete, make and remove directories, the French texts of local failures (a real refusal
// among them), and the editor and the opener started on hostile file names through
// stand-in programs, named by path, by a bare name found in PATH, or by the desktop.
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <QTest>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "tests/gui/WindowHarness.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/Unprivileged.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/InOutError.h"

namespace talvo::test {
namespace {

std::string WorkingDirectory() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// An environment variable set for the life of the object.
struct ScopedEnv {
  ScopedEnv(const char* name, const std::string& value) : name(name), old(std::getenv(name) ? std::getenv(name) : "") {
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old.empty() ? ::unsetenv(name) : ::setenv(name, old.c_str(), 1); }
  const char* name;
  std::string old;
};

class WindowLocalTest : public WindowTest {
 protected:
  TFileListBox& Files() { return *form->ui.FileListBox1; }
  TDirectoryListBox& Tree() { return *form->ui.DirectoryListBox1; }

  // The tree's row showing `name` (rows are indented by depth).
  int TreeRow(const std::string& name) {
    for (int row = 0; row < Tree().Count(); ++row) {
      if (Tree().Item(row).substr(Tree().Item(row).find_first_not_of(' ')) == name) return row;
    }
    return -1;
  }
  void ClickTreeRow(int row, bool twice) {
    Tree().scrollTo(Tree().model()->index(row, 0));
    const QRect rect = Tree().visualRect(Tree().model()->index(row, 0));
    twice ? QTest::mouseDClick(Tree().viewport(), Qt::LeftButton, {}, rect.center())
          : QTest::mouseClick(Tree().viewport(), Qt::LeftButton, {}, rect.center());
  }
  // The focused row is `name`, and no row is selected.
  void FocusOnly(const std::string& name) {
    Files().clearSelection();
    Files().SetItemIndex(Files().IndexOf(name));
  }
  void ExpectLastDialog(const std::string& caption, const std::string& text) {
    ASSERT_FALSE(dialogs.Seen().empty());
    EXPECT_EQ(dialogs.Seen().back().caption, caption);
    EXPECT_EQ(dialogs.Seen().back().text, text) << dialogs.Describe();
  }
  void ExpectErrorBox(const std::string& text) { ExpectLastDialog("Talvo FTP", text); }
};

TEST_F(WindowLocalTest, TheDrivesAreTheRootTheHomeThenRealMountPoints) {
  const std::vector<TMountPoint> mounts = {
      {"/", "ext4"},          {"/proc", "proc"},         {"/home/u", "ext4"},      {"/media/u/USB", "vfat"},
      {"/dev/shm", "tmpfs"},  {"/run/media/u/KEY", "exfat"}, {"/run/user/1/doc", "fuse.portal"},
      {"/snap/x/1", "squashfs"}, {"/data", "xfs"},       {"/data", "xfs"}};
  EXPECT_EQ(DrivesOf(mounts, "/home/u"),
            (std::vector<std::string>{"/", "/home/u", "/media/u/USB", "/run/media/u/KEY", "/data"}));
  ASSERT_FALSE(form->ui.DriveComboBox1->Drives().empty());
  EXPECT_EQ(form->ui.DriveComboBox1->Drives()[0], "/");
  // The selector shows the drive of the directory the tree is on.
  EXPECT_EQ(form->ui.DriveComboBox1->Drive(), form->ui.DriveComboBox1->DriveOf(local.Path()));
}

TEST_F(WindowLocalTest, TheTreeAndTheListShowTheDirectoryAndOpeningARowEntersIt) {
  for (const char* name : {"b.txt", "a.txt", ".hidden", "sub/inner.txt"}) ASSERT_TRUE(local.WriteFile(name, "x"));
  ASSERT_TRUE(local.MakeDirectory("other"));
  ASSERT_TRUE(local.MakeSymlink("link-to-sub", "sub"));
  ASSERT_EQ(::mkfifo(LocalPath("fifo").c_str(), 0644), 0);
  Tree().SetDirectory(local.Path());

  EXPECT_EQ(Sorted(Rows(Files())), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(Files().FileName(), "");  // the first row is focused, not selected
  Files().SetSelected(0, true);
  EXPECT_EQ(Files().FileName(), LocalPath(Files().Item(0)));
  EXPECT_EQ(Tree().Item(0), "/");
  ASSERT_GE(TreeRow("other"), 0);
  EXPECT_EQ(TreeRow("sub"), TreeRow("other") + 1);

  // A click only highlights; a double click opens, and the process follows.
  ClickTreeRow(TreeRow("sub"), false);
  EXPECT_EQ(Tree().Directory(), local.Path());
  ClickTreeRow(TreeRow("sub"), true);
  EXPECT_EQ(Tree().Directory(), LocalPath("sub"));
  EXPECT_EQ(WorkingDirectory(), LocalPath("sub"));
  EXPECT_EQ(Rows(Files()), (std::vector<std::string>{"inner.txt"}));

  // Enter on a row whose directory has gone meanwhile: the error box, and the tree stays.
  ASSERT_TRUE(local.MakeDirectory("sub/gone"));
  Tree().SetDirectory(LocalPath("sub"));
  ASSERT_EQ(::rmdir(LocalPath("sub/gone").c_str()), 0);
  dialogs.Expect(Press("OK"));
  Tree().SetItemIndex(TreeRow("gone"));
  QTest::keyClick(&Tree(), Qt::Key_Return);
  ExpectErrorBox("Fichier introuvable.");
  EXPECT_EQ(Tree().Directory(), LocalPath("sub"));

  // Enter on the parent's row goes back up; the keypad's Enter is Enter too.
  Tree().SetItemIndex(TreeRow(local.Path().substr(local.Path().rfind('/') + 1)));
  QTest::keyClick(&Tree(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(WorkingDirectory(), local.Path());
}

TEST_F(WindowLocalTest, RenameKeepsTheFileInItsDirectoryAndNeverReplacesAnother) {
  ASSERT_TRUE(local.WriteFile("a.txt", "A"));
  ASSERT_TRUE(local.WriteFile("b.txt", "B"));
  ASSERT_TRUE(local.MakeDirectory("sub"));
  Click(form->ui.Button14);

  Select(Files(), {"a.txt"});
  dialogs.Expect(Type("sub/../sub/x.txt"));
  Click(form->ui.Button8);
  ExpectLastDialog("Renommer", "Nouveau nom :");
  EXPECT_EQ(local.ReadFile("x.txt"), "A");
  EXPECT_FALSE(local.Exists("sub/x.txt"));
  EXPECT_EQ(Sorted(Rows(Files())), (std::vector<std::string>{"b.txt", "x.txt"}));

  const struct {
    std::string typed;
    bool selected;
    std::string error;
  } refused[] = {{"b.txt", true, "Erreur E/S 17."},  // an existing file is never replaced
                 {"sub/", true, "Nom de fichier incorrect."},
                 {"c.txt", false, "Fichier introuvable."}};  // no FileName
  for (const auto& c : refused) {
    SCOPED_TRACE(c.typed);
    c.selected ? Select(Files(), {"x.txt"}) : FocusOnly("x.txt");
    dialogs.Expect(Type(c.typed)).Expect(Press("OK"));
    Click(form->ui.Button8);
    ExpectErrorBox(c.error);
  }
  EXPECT_EQ(local.ReadFile("x.txt"), "A");
  EXPECT_EQ(local.ReadFile("b.txt"), "B");
  EXPECT_FALSE(local.Exists("c.txt"));
}

TEST_F(WindowLocalTest, DeletingStopsAtTheFirstFileThatCannotGo) {
  for (const char* name : {"f1", "f2", "f3", "keep"}) ASSERT_TRUE(local.WriteFile(name, name));
  Click(form->ui.Button14);

  // One focused file, none selected: the one-file question, nothing deleted, list re-read.
  FocusOnly("f1");
  ASSERT_TRUE(local.WriteFile("new", "n"));
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.Button9);
  ExpectLastDialog("Confirmation", "Etes-vous sûr de vouloir supprimer ce fichier ?");
  EXPECT_EQ(Files().Count(), 5);

  // The middle one of three (in the list's order, the directory's) disappears while the
  // question is open: the first goes, the last stays, the list is not re-read.
  std::vector<std::string> batch = {"f1", "f2", "f3"};
  std::sort(batch.begin(), batch.end(), [&](auto& a, auto& b) { return Files().IndexOf(a) < Files().IndexOf(b); });
  Select(Files(), batch);
  dialogs.Expect([&](QWidget* box) {
    EXPECT_EQ(::unlink(LocalPath(batch[1]).c_str()), 0);
    Press("&Oui")(box);
  });
  dialogs.Expect(Press("OK"));
  Click(form->ui.Button9);
  EXPECT_EQ(dialogs.Seen()[dialogs.Seen().size() - 2].text, "Etes-vous sûr de vouloir supprimer ces fichiers ?");
  ExpectErrorBox("Fichier introuvable.");
  EXPECT_FALSE(local.Exists(batch[0]));
  EXPECT_TRUE(local.Exists(batch[2]));
  EXPECT_EQ(Files().Count(), 5);
}

TEST_F(WindowLocalTest, ANewDirectoryIsEnteredAndAnExistingNameIsRefused) {
  ASSERT_TRUE(local.MakeDirectory("old"));
  dialogs.Expect(Type("old")).Expect(Press("OK"));
  Click(form->ui.Button2);
  ExpectErrorBox("Erreur E/S 17.");
  EXPECT_EQ(Tree().Directory(), local.Path());

  dialogs.Expect(Type("new dir"));
  Click(form->ui.Button2);
  ExpectLastDialog("Création de répertoire", "Nom du répertoire :");
  EXPECT_EQ(Tree().Directory(), LocalPath("new dir"));
  EXPECT_EQ(WorkingDirectory(), LocalPath("new dir"));
}

TEST_F(WindowLocalTest, RemovingTheCurrentDirectoryMovesToItsParentFirst) {
  ASSERT_TRUE(local.MakeDirectory("empty"));
  ASSERT_TRUE(local.WriteFile("full/file", "x"));

  Tree().SetDirectory(LocalPath("empty"));
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.Button3);
  ExpectLastDialog("Confirmation", "Etes-vous sûr de vouloir supprimer " + LocalPath("empty") + " ?");
  EXPECT_FALSE(local.Exists("empty"));
  EXPECT_EQ(Tree().Directory(), local.Path());
  EXPECT_EQ(TreeRow("empty"), -1);

  // Not empty: refused, and the tree shows the parent it moved to.
  Tree().SetDirectory(LocalPath("full"));
  dialogs.Expect(Press("&Oui")).Expect(Press("OK"));
  Click(form->ui.Button3);
  ExpectErrorBox("Erreur E/S " + std::to_string(ENOTEMPTY) + ".");
  EXPECT_TRUE(local.Exists("full/file"));
  EXPECT_EQ(Tree().Directory(), local.Path());
  EXPECT_EQ(WorkingDirectory(), local.Path());
}

TEST_F(WindowLocalTest, LocalFailuresReadTheirFrenchTexts) {
  const std::vector<std::pair<int, std::string>> cases = {
      {ENOENT, "Fichier introuvable"},       {ENOTDIR, "Nom de fichier incorrect"},
      {ENAMETOOLONG, "Nom de fichier incorrect"}, {ELOOP, "Nom de fichier incorrect"},
      {EINVAL, "Nom de fichier incorrect"},  {EMFILE, "Trop de fichiers ouverts"},
      {ENFILE, "Trop de fichiers ouverts"},  {EACCES, "Accès au fichier refusé"},
      {EPERM, "Accès au fichier refusé"},    {ENOSPC, "Disque plein"},
      {EDQUOT, "Disque plein"},
      {EIO, "Erreur E/S 5"}};  // its own number, though 5 is also the code of a refused access
  for (const auto& [errnum, text] : cases) EXPECT_EQ(InOutError::FromErrno(errnum).what(), text) << errnum;

  // A refusal the system really makes: a file in a directory that may not be written. Root
  // is refused nothing, so the deletion runs as an unprivileged user.
  ASSERT_TRUE(local.WriteFile("locked/kept", "k"));
  ASSERT_EQ(::chmod(LocalPath("locked").c_str(), 0555), 0);
  Tree().SetDirectory(LocalPath("locked"));
  Select(Files(), {"kept"});
  dialogs.Expect(Press("&Oui")).Expect(Press("OK"));
  {
    const AsUnprivilegedUser nobody;
    Click(form->ui.Button9);
  }
  ExpectErrorBox("Accès au fichier refusé.");
  EXPECT_TRUE(local.Exists("locked/kept"));
  EXPECT_EQ(::chmod(LocalPath("locked").c_str(), 0755), 0);
}

// Stand-in programs record their parent, their argument count, then each argument.
class WindowLocalProgramsTest : public WindowLocalTest {
 protected:
  void SetUp() override {
    WindowLocalTest::SetUp();
    form->Launcher.Editor = {StandIn("editor")};
    form->Launcher.Opener = {StandIn("opener")};
  }
  std::string StandIn(const std::string& name) {
    const std::string record = programs.PathOf(name + ".args");
    EXPECT_TRUE(programs.WriteFile(name, "#!/bin/sh\nprintf '%s\\n' \"$PPID\" \"$#\" \"$@\" > '" + record +
                                             ".tmp' && mv '" + record + ".tmp' '" + record + "'\n"));
    EXPECT_EQ(::chmod(programs.PathOf(name).c_str(), 0755), 0);
    return programs.PathOf(name);
  }
  // The arguments the stand-in got, once it has run.
  std::vector<std::string> ArgumentsOf(const std::string& name) {
    const std::string record = name + ".args";
    EXPECT_TRUE(WaitUntil([&] { return programs.Exists(record); }, 20000)) << name << " never ran";
    std::vector<std::string> lines;
    std::istringstream in(programs.ReadFile(record));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ::unlink(programs.PathOf(record).c_str());
    if (lines.size() < 2) return {"(no record)"};
    EXPECT_NE(lines[0], std::to_string(::getpid())) << "not detached";
    EXPECT_EQ(lines[1], std::to_string(lines.size() - 2));
    return {lines.begin() + 2, lines.end()};
  }
  TempTree programs{"programs"};
};

TEST_F(WindowLocalProgramsTest, AHostileFileNameReachesTheEditorAndTheOpenerAsOneArgument) {
  const std::vector<std::string> names = {"a; touch pwned", "$(touch pwned2) `touch pwned3`.txt"};
  for (const std::string& name : names) ASSERT_TRUE(local.WriteFile(name, "x"));
  Click(form->ui.Button14);
  for (const std::string& name : names) {
    Select(Files(), {name});
    Click(form->ui.Button6);
    EXPECT_EQ(ArgumentsOf("editor"), (std::vector<std::string>{LocalPath(name)}));
    Click(form->ui.Button7);
    EXPECT_EQ(ArgumentsOf("opener"), (std::vector<std::string>{LocalPath(name)}));
  }
  for (const char* trace : {"pwned", "pwned2", "pwned3"}) EXPECT_FALSE(local.Exists(trace)) << trace;
  // Nothing left to wait for: the programs were never this process's children.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_TRUE(dialogs.Seen().empty()) << dialogs.Describe();

  // With the focused row not selected the editor gets no file and the opener does not
  // start (had it started, it was before the editor that has now run).
  FocusOnly(names[0]);
  Click(form->ui.Button7);
  Click(form->ui.Button6);
  EXPECT_EQ(ArgumentsOf("editor"), std::vector<std::string>{});
  EXPECT_FALSE(programs.Exists("opener.args"));
}

// Given as bare names, the editor and the opener are found through PATH, in its absolute
// directories only: a relative entry would look in the folder the local pane shows.
TEST_F(WindowLocalProgramsTest, BareNamesAreFoundInTheAbsoluteDirectoriesOfPath) {
  ASSERT_TRUE(local.WriteFile("notes.txt", "x"));
  ASSERT_TRUE(local.WriteFile("bin/editor", "#!/bin/sh\ntouch '" + LocalPath("planted") + "'\n"));
  ASSERT_EQ(::chmod(LocalPath("bin/editor").c_str(), 0755), 0);
  form->Launcher.Editor = {"editor"};
  form->Launcher.Opener = {"opener"};
  const ScopedEnv path("PATH", "bin:" + programs.Path() + ":/usr/bin:/bin");
  Click(form->ui.Button14);
  Select(Files(), {"notes.txt"});
  Click(form->ui.Button6);
  EXPECT_EQ(ArgumentsOf("editor"), (std::vector<std::string>{LocalPath("notes.txt")}));
  Click(form->ui.Button7);
  EXPECT_EQ(ArgumentsOf("opener"), (std::vector<std::string>{LocalPath("notes.txt")}));
  EXPECT_FALSE(local.Exists("planted"));
}

// Left unset, the editor and the opener are a minimal desktop's defaults, read by GLib
// from throw-away folders only: its application for plain text, the one for PDF files (a
// local file takes a URI field code as a path), and xdg-open for a type it has no
// application for. The applications get a virtual display, and there is no session bus
// to start them over.
TEST_F(WindowLocalProgramsTest, UnsetTheEditorAndTheOpenerAreTheDesktopsDefaults) {
  form->Launcher = {};
  TempTree xdg("xdg");
  ServerProcess xvfb;
  std::string error, display;
  ASSERT_TRUE(xvfb.Spawn({"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp"}, xdg.PathOf("xvfb.log"), true,
                         error)) << error;
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);  // the applications must not come back to this process
  ASSERT_TRUE(xvfb.ReadStdoutLine(display, Millis(20000), error)) << error;
  const std::string data = xdg.PathOf("data"), config = xdg.PathOf("config"), none = xdg.PathOf("none");
  const ScopedEnv env[] = {{"XDG_DATA_HOME", data},  {"XDG_DATA_DIRS", none},
                           {"XDG_CONFIG_HOME", config}, {"XDG_CONFIG_DIRS", none},
                           {"DISPLAY", ":" + display}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + none},
                           {"PATH", programs.Path() + ":/usr/bin:/bin"}};
  ASSERT_EQ(std::string(g_get_user_data_dir()) + g_get_system_data_dirs()[0] + g_get_user_config_dir() +
                g_get_system_config_dirs()[0],
            data + none + config + none)
      << "GLib read its folders before the test set them";
  ASSERT_TRUE(xdg.MakeSymlink("data/mime", "/usr/share/mime"));  // the MIME database: which file is a PDF
  ASSERT_TRUE(xdg.WriteFile("config/mimeapps.list",
                            "[Default Applications]\ntext/plain=pad.desktop\napplication/pdf=viewer.desktop\n"));
  for (const auto& [name, code] : {std::pair{"pad", "%f"}, {"viewer", "%U"}}) {
    ASSERT_TRUE(xdg.WriteFile(std::string("data/applications/") + name + ".desktop",
                              std::string("[Desktop Entry]\nType=Application\nName=") + name +
                                  "\nExec=" + StandIn(name) + " " + code + "\n"));
  }
  StandIn("xdg-open");
  StandIn("gnome-text-editor");  // the first fallback editor: never started beside the desktop's
  const std::string text = "l'été $(touch pwned).txt";
  ASSERT_TRUE(local.WriteFile(text, "x") && local.WriteFile("guide.pdf", "%PDF-1.4\n") &&
              local.WriteFile("data.bin", std::string("\0\1\2", 3)));
  Click(form->ui.Button14);

  Select(Files(), {text});
  Click(form->ui.Button6);
  EXPECT_EQ(ArgumentsOf("pad"), (std::vector<std::string>{LocalPath(text)}));
  FocusOnly(text);
  Click(form->ui.Button6);
  EXPECT_EQ(ArgumentsOf("pad"), std::vector<std::string>{});
  Select(Files(), {"guide.pdf"});
  Click(form->ui.Button7);
  EXPECT_EQ(ArgumentsOf("viewer"), (std::vector<std::string>{LocalPath("guide.pdf")}));
  Select(Files(), {"data.bin"});
  Click(form->ui.Button7);
  EXPECT_EQ(ArgumentsOf("xdg-open"), (std::vector<std::string>{LocalPath("data.bin")}));
  EXPECT_FALSE(programs.Exists("gnome-text-editor.args")) << "a second editor started";
  EXPECT_FALSE(local.Exists("pwned"));
  EXPECT_TRUE(dialogs.Seen().empty()) << dialogs.Describe();
}

}  // namespace
}  // namespace talvo::test
