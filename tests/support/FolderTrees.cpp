#include "tests/support/FolderTrees.h"

#include <ftw.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "tests/support/TestPattern.h"

namespace talvo::test {

bool MakeFolderTree(TempTree& tree, std::string_view top, std::uint64_t bigSize) {
  const std::string t(top);
  return tree.WriteFile(t + "/a b.txt", "blanks\n") && tree.MakeDirectory(t + "/empty") &&
         tree.WriteFile(t + "/caf\xc3\xa9 d\xc3\xa9j\xc3\xa0/x.txt", "accents\n") &&
         tree.WritePatternFile(t + "/caf\xc3\xa9 d\xc3\xa9j\xc3\xa0/sub/deep.bin", 70000) &&
         tree.WritePatternFile(t + "/big.bin", bigSize);
}

namespace {

std::map<std::string, std::string>* gContents = nullptr;
std::size_t gRootLength = 0;

int Note(const char* path, const struct stat* st, int type, FTW*) {
  const std::string full(path);
  if (full.size() <= gRootLength) return 0;
  const std::string relative = full.substr(gRootLength + 1);
  if (type == FTW_D) {
    (*gContents)[relative] = "dir";
  } else if (S_ISREG(st->st_mode)) {
    std::ifstream in(full, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    (*gContents)[relative] = std::to_string(st->st_size) + " " + std::to_string(Fnv1a(bytes.str()));
  } else {
    (*gContents)[relative] = "other";
  }
  return 0;
}

}  // namespace

std::map<std::string, std::string> TreeContents(const std::string& path) {
  std::map<std::string, std::string> contents;
  gContents = &contents;
  gRootLength = path.size();
  ::nftw(path.c_str(), Note, 16, FTW_PHYS);
  gContents = nullptr;
  return contents;
}

}  // namespace talvo::test
