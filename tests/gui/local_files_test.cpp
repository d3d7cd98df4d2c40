// The local pane's rename on file systems that lack the calls it prefers: without a rename
// that refuses to replace, and without hard links either (some FUSE mounts). The rename
// still works, and still refuses to replace an existing file.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/TempTree.h"
#include "ui/InOutError.h"
#include "ui/LocalFiles.h"

namespace talvo::test {
namespace {

int Refuse(int error) {
  errno = error;
  return -1;
}

// The rename calls of a file system, for as long as the object lives.
class StandInFileSystem {
 public:
  explicit StandInFileSystem(TRenameCalls calls) : saved_(RenameCalls()) { RenameCalls() = calls; }
  ~StandInFileSystem() { RenameCalls() = saved_; }

 private:
  TRenameCalls saved_;
};

TEST(LocalRenameTest, WorksAndNeverReplacesWithoutNoReplaceRenameOrHardLinks) {
  const struct {
    const char* name;
    TRenameCalls calls;
  } rows[] = {
      {"no rename that refuses to replace", {[](const char*, const char*) { return Refuse(EINVAL); }, RenameCalls().link}},
      {"neither that nor hard links",
       {[](const char*, const char*) { return Refuse(EINVAL); }, [](const char*, const char*) { return Refuse(EPERM); }}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree tree("rename");
    ASSERT_TRUE(tree.WriteFile("a", "A"));
    ASSERT_TRUE(tree.WriteFile("taken", "T"));
    StandInFileSystem fs(row.calls);

    RenameWithoutReplacing(tree.PathOf("a"), tree.PathOf("b"));
    EXPECT_FALSE(tree.Exists("a"));
    EXPECT_EQ(tree.ReadFile("b"), "A");

    try {
      RenameWithoutReplacing(tree.PathOf("b"), tree.PathOf("taken"));
      ADD_FAILURE() << "an existing file was replaced";
    } catch (const InOutError& e) {
      EXPECT_EQ(e.Code(), EEXIST);
    }
    EXPECT_EQ(tree.ReadFile("b"), "A");
    EXPECT_EQ(tree.ReadFile("taken"), "T");
  }
}

}  // namespace
}  // namespace talvo::test
