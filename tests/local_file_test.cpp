// The local file of a transfer on the odd trees a user's disk holds: links (the user's own,
// followed to the file they name; another user's in a shared folder, never written
// through), pipes and folders where a file is expected, a folder that takes no new file,
// a read-only file to send, a walk's folder that is another user's link; and the mark of a
// part, where the file system has extended attributes and where it has none (ramfs).
#include "session/LocalFile.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "session/FolderTransfer.h"
#include "session/LocalErrors.h"
#include "tests/support/TempTree.h"
#include "tests/support/Unprivileged.h"

namespace talvo::test {
namespace {

constexpr uid_t kDaemon = 1;  // a third user: neither the one running, nor nobody

// shared/dl: a link to ../notes.txt, of `owner`.
bool LinkOf(TempTree& tree, uid_t owner) {
  return tree.MakeSymlink("shared/dl", "../notes.txt") && ::lchown(tree.PathOf("shared/dl").c_str(), owner, owner) == 0;
}

TPartOrigin Origin() { return {"ftp.example.org", 21, "anna", "/pub/f", "~/f", 3000, 1767323045, ""}; }

// Receives "new" into `target` and commits it; the open's error when it is refused.
int ReceiveNew(const std::string& target) {
  TLocalFile file;
  if (const int error = file.OpenForReceive(target, Origin()); error != 0) return error;
  EXPECT_EQ(file.Begin(0), 0);
  EXPECT_EQ(file.Write("new", 3), 0);
  return file.Commit();
}

TEST(LocalFileTest, ReceivesIntoOddTrees) {
  const struct {
    const char* name;
    std::function<bool(TempTree&)> make;  // "notes.txt" holds "old"; the download goes to "shared/dl"
    bool unprivileged;
    int error;
    const char* notes;  // what notes.txt holds afterwards
    bool dlIsFile;      // shared/dl is then a plain file holding "new"
  } rows[] = {
      {"this user's link: the file it names is replaced", [](TempTree& t) { return LinkOf(t, ::geteuid()); }, false, 0,
       "new", false},
      {"another user's link: replaced itself, never followed", [](TempTree& t) { return LinkOf(t, kDaemon); }, false,
       0, "old", true},
      {"another user's link in another user's shared folder: refused", [](TempTree& t) { return LinkOf(t, kDaemon); },
       true, EPERM, "old", false},
      {"a pipe: refused, never opened", [](TempTree& t) { return ::mkfifo(t.PathOf("shared/dl").c_str(), 0666) == 0; },
       false, kNotAPlainFile, "old", false},
      {"a folder: refused", [](TempTree& t) { return t.MakeDirectory("shared/dl"); }, false, kNotAPlainFile, "old",
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree tree("local-odd");
    ASSERT_TRUE(tree.WriteFile("notes.txt", "old") && tree.MakeDirectory("shared"));
    ASSERT_EQ(::chmod(tree.PathOf("shared").c_str(), 01777), 0);  // like /tmp
    ASSERT_EQ(::chmod(tree.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(tree.PathOf("notes.txt").c_str(), 0666), 0);
    ASSERT_TRUE(row.make(tree));
    int error = 0;
    {
      const AsUnprivilegedUser user;
      error = row.unprivileged ? ReceiveNew(tree.PathOf("shared/dl")) : 0;
    }
    if (!row.unprivileged) error = ReceiveNew(tree.PathOf("shared/dl"));
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(tree.ReadFile("notes.txt"), row.notes);
    struct stat st {};
    EXPECT_EQ(::lstat(tree.PathOf("shared/dl").c_str(), &st) == 0 && S_ISREG(st.st_mode), row.dlIsFile);
    if (row.dlIsFile) {
      EXPECT_EQ(tree.ReadFile("shared/dl"), "new");
    }
    EXPECT_FALSE(tree.Exists("shared/dl.part") || tree.Exists("notes.txt.part"));
  }
  // A folder a download walk would make, where another user put a link: never gone through.
  TempTree tree("local-odd-folder");
  ASSERT_TRUE(tree.MakeDirectory("mine") && tree.MakeSymlink("dl", "mine"));
  ASSERT_EQ(::lchown(tree.PathOf("dl").c_str(), kDaemon, kDaemon), 0);
  EXPECT_EQ(MakeLocalFolder(tree.PathOf("dl")), EPERM);

  // A read-only file of this user in a folder it may write: kept, not replaced.
  TempTree readOnly("local-read-only");
  ASSERT_TRUE(readOnly.WriteFile("f", "old") && readOnly.SetOwner(AsUnprivilegedUser::kNobody,
                                                                   AsUnprivilegedUser::kNogroup));
  ASSERT_EQ(::chmod(readOnly.PathOf("f").c_str(), 0444), 0);
  {
    const AsUnprivilegedUser user;
    EXPECT_EQ(ReceiveNew(readOnly.PathOf("f")), EACCES);
  }
  EXPECT_EQ(readOnly.ReadFile("f"), "old");
}

// A folder that takes no new file, with a file in it that may be written: the download
// writes the file itself, and says so before the first byte; cut short, the file holds only
// what came, and that is what the receive reports. A read-only file is sent.
TEST(LocalFileTest, AFolderThatTakesNoNewFileAndAReadOnlyFileToSend) {
  TempTree tree("local-ro");
  ASSERT_TRUE(tree.SetOwner(AsUnprivilegedUser::kNobody, AsUnprivilegedUser::kNogroup));
  ASSERT_TRUE(tree.WriteFile("closed/f", "old content") && tree.WriteFile("sent", "to send"));
  ASSERT_EQ(::chmod(tree.PathOf("closed").c_str(), 0555), 0);
  ASSERT_EQ(::chmod(tree.PathOf("sent").c_str(), 0444), 0);
  const AsUnprivilegedUser user;
  if (::geteuid() == 0) GTEST_SKIP() << "needs an unprivileged user";
  TLocalFile file;
  ASSERT_EQ(file.OpenForReceive(tree.PathOf("closed/f"), Origin()), 0);
  EXPECT_TRUE(file.OverwritesInPlace());
  ASSERT_EQ(file.Begin(0), 0);
  ASSERT_EQ(file.Claim(), 0);
  ASSERT_EQ(file.Write("cut", 3), 0);
  file.Forget();
  EXPECT_EQ(file.Left(), TLeftOnDisk::TargetPartial);
  EXPECT_EQ(tree.ReadFile("closed/f"), "cut");

  TLocalFile source;
  ASSERT_EQ(source.OpenForStore(tree.PathOf("sent")), 0);
  char bytes[16] = {};
  EXPECT_EQ(source.Read(bytes, sizeof bytes), 7);
  EXPECT_EQ(std::string(bytes, 7), "to send");
}

// A part is marked from its first byte, where the file system keeps extended attributes and
// (in a companion file) where it keeps none; the next receive of the same file continues
// it, and once whole neither the part nor its mark is left. Another copy of the program
// receiving the same file at the same time makes a part of its own.
TEST(LocalFileTest, APartIsMarkedAndContinuedWithOrWithoutExtendedAttributes) {
  for (const bool ramfs : {false, true}) {
    SCOPED_TRACE(ramfs ? "ramfs: no extended attributes" : "extended attributes");
    TempTree tree("local-mark");
    ASSERT_TRUE(tree.MakeDirectory("fs"));
    const std::string folder = tree.PathOf("fs");
    if (ramfs && ::mount("ramfs", folder.c_str(), "ramfs", 0, nullptr) != 0) GTEST_SKIP() << "cannot mount a ramfs";
    const std::string target = folder + "/f";
    {
      TLocalFile file;
      ASSERT_EQ(file.OpenForReceive(target, Origin()), 0);
      EXPECT_EQ(file.ResumableFrom(3000, 1767323045), 0);
      ASSERT_EQ(file.Begin(0), 0);
      ASSERT_EQ(file.Write(std::string(1000, 'a').data(), 1000), 0);
      file.Forget();  // as a kill would leave it
      EXPECT_EQ(file.Left(), TLeftOnDisk::PartKept);
    }
    EXPECT_EQ(::access((target + ".part.origin").c_str(), F_OK) == 0, ramfs);
    TLocalFile file;
    ASSERT_EQ(file.OpenForReceive(target, Origin()), 0);
    EXPECT_EQ(file.ResumableFrom(3000, 1767323046), 0) << "the server's file changed";
    ASSERT_EQ(file.ResumableFrom(3000, 1767323045), 1000);
    {
      // Another copy of the program receiving the same file meanwhile: a part of its own.
      TLocalFile other;
      ASSERT_EQ(other.OpenForReceive(target, Origin()), 0);
      EXPECT_EQ(other.PartSize(), -1);
      EXPECT_TRUE(tree.Exists("fs/f~1.part"));
    }
    EXPECT_FALSE(tree.Exists("fs/f~1.part")) << "nothing came: nothing kept";
    ASSERT_EQ(file.Begin(1000), 0);
    ASSERT_EQ(file.Write(std::string(2000, 'b').data(), 2000), 0);
    ASSERT_EQ(file.Commit(), 0);
    EXPECT_EQ(tree.ReadFile("fs/f"), std::string(1000, 'a') + std::string(2000, 'b'));
    EXPECT_FALSE(tree.Exists("fs/f.part") || tree.Exists("fs/f.part.origin"));
    if (ramfs) ::umount2(folder.c_str(), MNT_DETACH);
  }
}

}  // namespace
}  // namespace talvo::test
