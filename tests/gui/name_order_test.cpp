// The order of the window's lists: natural numbers, case and accents as a French reader
// sorts them, and a fixed order for names the collation finds equal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/NameOrder.h"

namespace {

using Names = std::vector<std::string>;

TEST(NameOrderTest, SortsAsAReaderExpects) {
  const struct {
    const char* what;
    Names given, sorted;
  } rows[] = {
      {"numbers as numbers", {"photo10.jpg", "photo2.jpg", "photo1.jpg"}, {"photo1.jpg", "photo2.jpg", "photo10.jpg"}},
      {"case aside", {"b.txt", "A.txt", "c.txt"}, {"A.txt", "b.txt", "c.txt"}},
      {"accents beside their letter", {"zèbre", "école", "Eve"}, {"école", "Eve", "zèbre"}},
      {"bytes that are not UTF-8, and equal names", {"b", "\xe9t\xe9", "a", "a"}, {"a", "a", "b", "\xe9t\xe9"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Names names = row.given;
    SortNames(names);
    EXPECT_EQ(names, row.sorted);
  }
}

}  // namespace
