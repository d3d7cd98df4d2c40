// The window's local pane on a throw-away folder tree: the drive list, the tree and the
// file list, renaming (never over another file, never out of the directory), deleting
// several files, making and removing directories, the French texts of local failures,
// and the editor and the opener started on a hostile file name through stand-in programs.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "tests/gui/WindowHarness.h"
#include "ui/DesktopEntry.h"
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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class WindowLocalTest : public WindowTest {
 protected:
  TFileListBox& Files() { return *form->ui.FileListBox1; }
  TDirectoryListBox& Tree() { return *form->ui.DirectoryListBox1; }

  // The tree's row showing `name` (rows are indented by depth).
  int TreeRow(const std::string& name) {
    for (int row = 0; row < Tree().Count(); ++row) {
      const std::string& text = Tree().Item(row);
      if (text.substr(text.find_first_not_of(' ')) == name) return row;
    }
    return -1;
  }

  void DoubleClickTreeRow(int row) {
    const QModelIndex index = Tree().model()->index(row, 0);
    Tree().scrollTo(index);
    QTest::mouseDClick(Tree().viewport(), Qt::LeftButton, {}, Tree().visualRect(index).center());
  }

  // The focused row is `name`, and no row is selected.
  void FocusOnly(const std::string& name) {
    Files().clearSelection();
    Files().SetItemIndex(Files().IndexOf(name));
  }

  // The last dialog was the application's error box with this text.
  void ExpectErrorBox(const std::string& text) {
    ASSERT_FALSE(dialogs.Seen().empty());
    EXPECT_EQ(dialogs.Seen().back().caption, "Talvo FTP");
    EXPECT_EQ(dialogs.Seen().back().text, text) << dialogs.Describe();
  }
};

TEST_F(WindowLocalTest, TheDrivesStartWithTheRootAndTheHomeAndLeaveOutPseudoFileSystems) {
  const std::vector<TMountPoint> mounts = {
      {"/", "ext4"},          {"/proc", "proc"},           {"/home/u", "ext4"},      {"/media/u/USB", "vfat"},
      {"/run/user/1000", "tmpfs"}, {"/run/media/u/KEY", "exfat"}, {"/dev/shm", "tmpfs"}, {"/sys/fs/cgroup", "cgroup2"},
      {"/snap/x/1", "squashfs"}, {"/run/user/1000/doc", "fuse.portal"}, {"/data", "xfs"}, {"/data", "xfs"}};
  EXPECT_EQ(DrivesOf(mounts, "/home/u"),
            (std::vector<std::string>{"/", "/home/u", "/media/u/USB", "/run/media/u/KEY", "/data"}));

  // The machine's own list, and the selector following the tree onto the root's drive.
  const auto& drives = form->ui.DriveComboBox1->Drives();
  ASSERT_GE(drives.size(), 1u);
  EXPECT_EQ(drives[0], "/");
  for (const std::string& drive : drives) EXPECT_NE(drive.rfind("/proc", 0), 0u) << drive;
  EXPECT_EQ(form->ui.DriveComboBox1->Drive(), form->ui.DriveComboBox1->DriveOf(local.Path()));
}

TEST_F(WindowLocalTest, TheTreeAndTheListShowTheDirectoryAndOpeningARowEntersIt) {
  ASSERT_TRUE(local.WriteFile("b.txt", "b"));
  ASSERT_TRUE(local.WriteFile("a.txt", "a"));
  ASSERT_TRUE(local.WriteFile(".hidden", "h"));
  ASSERT_TRUE(local.WriteFile("sub/inner.txt", "i"));
  ASSERT_TRUE(local.MakeDirectory("other"));
  ASSERT_TRUE(local.MakeSymlink("link-to-sub", "sub"));
  ASSERT_EQ(::mkfifo(LocalPath("fifo").c_str(), 0644), 0);
  Tree().SetDirectory(local.Path());

  EXPECT_EQ(Sorted(Rows(Files())), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(Files().ItemIndex(), 0);  // focused, not selected: no FileName
  EXPECT_EQ(Files().FileName(), "");
  Files().SetSelected(0, true);
  EXPECT_EQ(Files().FileName(), LocalPath(Files().Item(0)));

  // The path down to the directory, then its sub-directories, sorted.
  ASSERT_GE(TreeRow("sub"), 0);
  EXPECT_EQ(TreeRow("other") + 1, TreeRow("sub"));
  EXPECT_EQ(Tree().Item(0), "/");

  // A click only highlights; a double click opens and the process follows.
  const int sub = TreeRow("sub");
  QTest::mouseClick(Tree().viewport(), Qt::LeftButton, {}, Tree().visualRect(Tree().model()->index(sub, 0)).center());
  EXPECT_EQ(Tree().ItemIndex(), sub);
  EXPECT_EQ(Tree().Directory(), local.Path());
  DoubleClickTreeRow(sub);
  EXPECT_EQ(Tree().Directory(), LocalPath("sub"));
  EXPECT_EQ(WorkingDirectory(), LocalPath("sub"));
  EXPECT_EQ(Rows(Files()), (std::vector<std::string>{"inner.txt"}));

  // Enter on the parent's row goes back up.
  Tree().SetItemIndex(TreeRow(local.Path().substr(local.Path().rfind('/') + 1)));
  QTest::keyClick(&Tree(), Qt::Key_Return);
  EXPECT_EQ(Tree().Directory(), local.Path());
  EXPECT_EQ(WorkingDirectory(), local.Path());
}

TEST_F(WindowLocalTest, RenameKeepsTheFileInItsDirectoryAndNeverReplacesAnother) {
  ASSERT_TRUE(local.WriteFile("a.txt", "A"));
  ASSERT_TRUE(local.WriteFile("b.txt", "B"));
  ASSERT_TRUE(local.MakeDirectory("sub"));
  Click(form->ui.Button14);

  // Only the typed text's last part counts.
  Select(Files(), {"a.txt"});
  dialogs.Expect(Type("sub/../sub/x.txt"));
  Click(form->ui.Button8);
  EXPECT_EQ(dialogs.Seen().back().caption, "Renommer");
  EXPECT_EQ(dialogs.Seen().back().text, "Nouveau nom :");
  EXPECT_EQ(local.ReadFile("x.txt"), "A");
  EXPECT_FALSE(local.Exists("a.txt"));
  EXPECT_FALSE(local.Exists("sub/x.txt"));
  EXPECT_EQ(Sorted(Rows(Files())), (std::vector<std::string>{"b.txt", "x.txt"}));

  // Onto an existing file: refused, both intact.
  Select(Files(), {"x.txt"});
  dialogs.Expect(Type("b.txt")).Expect(Press("OK"));
  Click(form->ui.Button8);
  ExpectErrorBox("Erreur E/S 17.");
  EXPECT_EQ(local.ReadFile("x.txt"), "A");
  EXPECT_EQ(local.ReadFile("b.txt"), "B");

  // A typed text that names no file, and a focused row that is not selected.
  Select(Files(), {"x.txt"});
  dialogs.Expect(Type("sub/")).Expect(Press("OK"));
  Click(form->ui.Button8);
  ExpectErrorBox("Nom de fichier incorrect.");
  FocusOnly("x.txt");
  dialogs.Expect(Type("c.txt")).Expect(Press("OK"));
  Click(form->ui.Button8);
  ExpectErrorBox("Fichier introuvable.");
  EXPECT_EQ(local.ReadFile("x.txt"), "A");
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
  EXPECT_EQ(dialogs.Seen().back().caption, "Confirmation");
  EXPECT_EQ(dialogs.Seen().back().text, "Etes-vous sûr de vouloir supprimer ce fichier ?");
  EXPECT_EQ(Files().Count(), 5);

  // The middle one of three (in the list's order, which is the directory's) disappears
  // while the question is open: the first goes, the last stays, the list is not re-read.
  std::vector<std::string> batch = {"f1", "f2", "f3"};
  std::sort(batch.begin(), batch.end(), [&](auto& a, auto& b) { return Files().IndexOf(a) < Files().IndexOf(b); });
  Select(Files(), batch);
  dialogs
      .Expect([&](QWidget* box) {
        EXPECT_EQ(::unlink(LocalPath(batch[1]).c_str()), 0);
        Press("&Oui")(box);
      })
      .Expect(Press("OK"));
  Click(form->ui.Button9);
  EXPECT_EQ(dialogs.Seen()[dialogs.Seen().size() - 2].text, "Etes-vous sûr de vouloir supprimer ces fichiers ?");
  ExpectErrorBox("Fichier introuvable.");
  EXPECT_FALSE(local.Exists(batch[0]));
  EXPECT_TRUE(local.Exists(batch[2]));
  EXPECT_EQ(Files().Count(), 5);

  // "&Non" deletes nothing.
  Click(form->ui.Button14);
  Select(Files(), {batch[2], "keep"});
  dialogs.Expect(Press("&Non"));
  Click(form->ui.Button9);
  EXPECT_TRUE(local.Exists(batch[2]));
  EXPECT_TRUE(local.Exists("keep"));
}

TEST_F(WindowLocalTest, ANewDirectoryIsEnteredAndAnExistingNameIsRefused) {
  ASSERT_TRUE(local.MakeDirectory("old"));
  Click(form->ui.Button14);

  dialogs.Expect(Type("old")).Expect(Press("OK"));
  Click(form->ui.Button2);
  ExpectErrorBox("Erreur E/S 17.");
  EXPECT_EQ(Tree().Directory(), local.Path());

  dialogs.Expect(Type("new dir"));
  Click(form->ui.Button2);
  EXPECT_EQ(dialogs.Seen().back().caption, "Création de répertoire");
  EXPECT_EQ(dialogs.Seen().back().text, "Nom du répertoire :");
  EXPECT_EQ(Tree().Directory(), LocalPath("new dir"));
  EXPECT_EQ(WorkingDirectory(), LocalPath("new dir"));
  EXPECT_EQ(Files().Count(), 0);
}

TEST_F(WindowLocalTest, RemovingTheCurrentDirectoryMovesToItsParentFirst) {
  ASSERT_TRUE(local.MakeDirectory("empty"));
  ASSERT_TRUE(local.WriteFile("full/file", "x"));

  Tree().SetDirectory(LocalPath("empty"));
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.Button3);
  EXPECT_EQ(dialogs.Seen().back().text, "Etes-vous sûr de vouloir supprimer " + LocalPath("empty") + " ?");
  EXPECT_FALSE(local.Exists("empty"));
  EXPECT_EQ(Tree().Directory(), local.Path());
  EXPECT_EQ(TreeRow("empty"), -1);
  EXPECT_GE(TreeRow("full"), 0);

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
      {ENOENT, "Fichier introuvable"},     {ENOTDIR, "Nom de fichier incorrect"},
      {ENAMETOOLONG, "Nom de fichier incorrect"}, {EMFILE, "Trop de fichiers ouverts"},
      {EACCES, "Accès au fichier refusé"}, {EPERM, "Accès au fichier refusé"},
      {ENOSPC, "Disque plein"},            {EEXIST, "Erreur E/S 17"},
      {EIO, "Erreur E/S 5"},  // its own number, though 5 is also the code of a refused access
  };
  for (const auto& [errnum, text] : cases) {
    SCOPED_TRACE(errnum);
    EXPECT_EQ(InOutError::FromErrno(errnum).what(), text);
  }
}

// Stand-in programs record how they were started: their parent, their argument count,
// then each argument on a line.
class WindowLocalProgramsTest : public WindowLocalTest {
 protected:
  void SetUp() override {
    WindowLocalTest::SetUp();
    ASSERT_TRUE(programs.Valid());
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

  // The arguments the stand-in got (after its parent and count), once it has run.
  std::vector<std::string> ArgumentsOf(const std::string& name) {
    const std::string record = name + ".args";
    EXPECT_TRUE(WaitUntil([&] { return programs.Exists(record); }, 20000)) << name << " never ran";
    std::vector<std::string> lines = Lines(programs.ReadFile(record));
    EXPECT_GE(lines.size(), 2u);
    if (lines.size() < 2) return {};
    EXPECT_NE(lines[0], std::to_string(::getpid())) << "not detached";
    EXPECT_EQ(lines[1], std::to_string(lines.size() - 2));
    EXPECT_EQ(::unlink(programs.PathOf(record).c_str()), 0);
    return {lines.begin() + 2, lines.end()};
  }

  TempTree programs{"programs"};
};

TEST_F(WindowLocalProgramsTest, AHostileFileNameReachesTheEditorAndTheOpenerAsOneArgument) {
  const std::vector<std::string> names = {"a; touch pwned", "$(touch pwned2) `touch pwned3`.txt"};
  for (const std::string& name : names) ASSERT_TRUE(local.WriteFile(name, "x"));
  Click(form->ui.Button14);

  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    Select(Files(), {name});
    Click(form->ui.Button6);
    EXPECT_EQ(ArgumentsOf("editor"), (std::vector<std::string>{LocalPath(name)}));
    Click(form->ui.Button7);
    EXPECT_EQ(ArgumentsOf("opener"), (std::vector<std::string>{LocalPath(name)}));
  }
  for (const char* trace : {"pwned", "pwned2", "pwned3"}) {
    EXPECT_FALSE(local.Exists(trace)) << trace;
    EXPECT_FALSE(programs.Exists(trace)) << trace;
  }
  // Nothing left to wait for: the started programs were never this process's children.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_TRUE(dialogs.Seen().empty()) << dialogs.Describe();
}

TEST_F(WindowLocalProgramsTest, WithTheFocusedRowNotSelectedTheEditorGetsNoFileAndTheOpenerDoesNotStart) {
  ASSERT_TRUE(local.WriteFile("a.txt", "x"));
  Click(form->ui.Button14);
  FocusOnly("a.txt");
  Click(form->ui.Button7);
  Click(form->ui.Button6);
  EXPECT_EQ(ArgumentsOf("editor"), std::vector<std::string>{});
  // Had the opener been started, it was started before the editor that has now run.
  EXPECT_FALSE(programs.Exists("opener.args"));
}

// The editor the desktop names for plain text: an entry that needs a terminal is passed
// over for the next one, whose Exec line gets the file in place of its field code.
TEST_F(WindowLocalProgramsTest, WithoutAStandInTheEditorIsTheDesktopsDefaultForPlainText) {
  TempTree xdg("xdg");
  ASSERT_TRUE(xdg.WriteFile("config/mimeapps.list",
                            "[Added Associations]\ntext/plain=ignored.desktop\n"
                            "[Default Applications]\ntext/plain=term.desktop;missing.desktop;pad.desktop;\n"));
  ASSERT_TRUE(xdg.WriteFile("data/applications/term.desktop",
                            "[Desktop Entry]\nExec=" + programs.PathOf("editor") + " %F\nTerminal=true\n"));
  ASSERT_TRUE(xdg.WriteFile("data/applications/pad.desktop",
                            "[Desktop Entry]\nName=Pad\nExec=\"" + programs.PathOf("editor") +
                                "\" --new-window %U %i\n"));
  const ScopedEnv configHome("XDG_CONFIG_HOME", xdg.PathOf("config"));
  const ScopedEnv configDirs("XDG_CONFIG_DIRS", xdg.PathOf("none"));
  const ScopedEnv dataHome("XDG_DATA_HOME", xdg.PathOf("data"));
  const ScopedEnv dataDirs("XDG_DATA_DIRS", xdg.PathOf("none"));

  TDesktopLauncher desktop;
  EXPECT_EQ(desktop.EditorCommand("/d/f a.txt"),
            (std::vector<std::string>{programs.PathOf("editor"), "--new-window", "/d/f a.txt"}));
  EXPECT_EQ(desktop.EditorCommand(""), (std::vector<std::string>{programs.PathOf("editor"), "--new-window"}));

  // Exec lines: quoting, escapes, "%%", and the file added when no field code asks for it.
  EXPECT_EQ(ExpandExec(R"(ed "a \"b\" c" 50%% --file=%f)", "/x"),
            (std::vector<std::string>{"ed", "a \"b\" c", "50%", "--file=/x"}));
  EXPECT_EQ(ExpandExec("ed -n", "/x"), (std::vector<std::string>{"ed", "-n", "/x"}));

  // The opener: xdg-open, else gio, else nothing; looked up on PATH only.
  const ScopedEnv path("PATH", programs.Path());
  EXPECT_EQ(desktop.OpenerCommand("/d/f"), std::vector<std::string>{});
  ASSERT_TRUE(programs.WriteFile("gio", "#!/bin/sh\n"));
  ASSERT_EQ(::chmod(programs.PathOf("gio").c_str(), 0755), 0);
  EXPECT_EQ(desktop.OpenerCommand("/d/f"), (std::vector<std::string>{"gio", "open", "/d/f"}));
}

}  // namespace
}  // namespace talvo::test
