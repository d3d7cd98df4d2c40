#include "ftp/ListingParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What one line should give: no entry, or a file or directory with its name.
struct Outcome {
  bool yields;
  std::string name;
  bool isDirectory;
};
const Outcome kNoEntry{false, "", false};
Outcome File(std::string name) { return {true, std::move(name), false}; }
Outcome Dir(std::string name) { return {true, std::move(name), true}; }

struct LineCase {
  std::string line;
  Outcome expected;
};

// Not a dialect: the lines of an MLSD listing, read by ParseMlsdLine.
constexpr auto kMlsd = static_cast<TFTPServerType>(200);

class ListingParserTest : public ::testing::Test {
 protected:
  void SetUp() override { VmsPendingLine.clear(); }
  void TearDown() override { VmsPendingLine.clear(); }

  static void ExpectLine(TFTPServerType dialect, const std::string& line, const Outcome& expected) {
    SCOPED_TRACE("dialect " + std::string(ServerTypeName(dialect)) + ", line [" + line + "]");
    ListingEntry entry;
    ASSERT_EQ(dialect == kMlsd ? ParseMlsdLine(line, entry) : ParseListingLine(dialect, line, entry), expected.yields);
    if (!expected.yields) return;
    EXPECT_EQ(entry.Name, expected.name);
    EXPECT_EQ(entry.IsDirectory, expected.isDirectory);
  }

  static void ExpectLines(TFTPServerType dialect, const std::vector<LineCase>& cases) {
    for (const auto& c : cases) {
      VmsPendingLine.clear();
      ExpectLine(dialect, c.line, c.expected);
    }
  }
};

TEST_F(ListingParserTest, BlankFieldCountsRunsOfBlanksAsOneAndNeedsATrailingBlank) {
  struct Row {
    std::string line;
    int n;
    std::string field;
  };
  const std::vector<Row> rows = {
      {"a  b c", 0, "a"},
      {"a  b c", 1, "b"},
      {"a  b c", 2, ""},  // the last field has no blank after it
      {"a  b c ", 2, "c"},
      {" a b", 0, ""},  // a leading blank makes field 0 empty
      {"   a b", 1, "a"},
      {"a", 0, ""},
      {"", 0, ""},
      {"    ", 0, ""},
      {"    ", 1, ""},
      {"a    ", 1, ""},
      {"a\tb c", 0, "a\tb"},  // a tab is an ordinary character
      {"a b c", -1, ""},
      {"a b c", 1000000, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("[" + r.line + "] field " + std::to_string(r.n));
    EXPECT_EQ(BlankField(r.line, r.n), r.field);
  }
}

TEST_F(ListingParserTest, LastWordDropsTheLinkTargetAndKeepsTheLastWord) {
  const std::string longName(1500, 'n');
  const std::string longTarget(1200, 't');
  struct Row {
    std::string line;
    std::string word;
  };
  const std::vector<Row> rows = {
      {"a b c", "c"},
      {"a b c   ", "c"},
      {"x 7 bin -> usr/bin", "bin"},
      {"x 7 a->b", "a"},
      {"x 7 a -> b -> c", "a"},
      {"x 1 " + longName, longName},             // long names are kept whole
      {"x 1 bin -> " + longTarget + " tail", "bin"},  // a long target goes entirely
      {"->", ""},
      {"", ""},
      {"     ", ""},
      {"noblank", ""},         // no blank left: no name
      {"lrwx->x a b", ""},     // every blank stands after the link
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("[" + r.line.substr(0, 60) + "]");
    EXPECT_EQ(LastWord(r.line), r.word);
  }
}

TEST_F(ListingParserTest, UnixRule) {
  ExpectLines(ftpstUNIX, {
      {"drwxr-xr-x   2 ftp  ftp   512 Jan 10 12:00 pub", Dir("pub")},
      {"-rw-r--r--   1 ftp  ftp 12345 Jan 10  1999 readme.txt", File("readme.txt")},
      {"lrwxrwxrwx   1 root root    7 Jan 10 12:00 bin -> usr/bin", Dir("bin")},
      {"-rw-r--r--   1 ftp  ftp   100 Jan 10 12:00 my notes.txt", File("my notes.txt")},
      // The name is all that follows the date, whatever the columns before it.
      {"-rw-r--r-- 1 ftp 100 Jan 10 12:00 file with blank.txt", File("file with blank.txt")},
      {"-rw-r--r-- 1 1000 1000 123456789012 Dec 31  2025 two  blanks.txt", File("two  blanks.txt")},
      {"-rw-r--r-- 1 ftp ftp 0 Feb 1 9:05 caf\xc3\xa9 d\xc3\xa9j\xc3\xa0.bin", File("caf\xc3\xa9 d\xc3\xa9j\xc3\xa0.bin")},
      {"-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 -> arrow.txt", File("-> arrow.txt")},
      {"-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00  lead", File(" lead")},
      {"-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 Feb 11 13:00 x", File("Feb 11 13:00 x")},
      {"lrwxrwxrwx 1 root root 7 Jan 10 12:00 my bin -> usr/bin", Dir("my bin")},
      {"drwxr-xr-x 2 ftp ftp 512 Jan 10 12:00 ", kNoEntry},
      // No date of that shape: the last word, as before.
      {"-rw-r--r-- 1 ftp ftp 100 2024-01-10 12:00 my notes.txt", File("notes.txt")},
      {"drwxr-xr-x   2 ftp  ftp   512 Jan 10 12:00 ..", Dir("..")},
      {"drwxr-xr-x   2 ftp  ftp   512 Jan 10 12:00 .", Dir(".")},
      {"total 24", kNoEntry},
      {"crw-rw-rw-   1 root root  1, 3 Jan 10 12:00 null", kNoEntry},
      {"-rw-r--r-- x", kNoEntry},
      {"-rw-r--r-- 1 x", File("x")},
      {"frw-r--r-- 1 x", File("x")},
      {"Drwxr-xr-x   2 ftp  ftp   512 Jan 10 12:00 pub", kNoEntry},
      {"Lrwxrwxrwx   1 ftp  ftp   512 Jan 10 12:00 pub", kNoEntry},
      {"-rw-r--r--   1 ftp  ftp   100 Jan 10 12:00 a->b.txt", File("a->b.txt")},
      {"-rw-r--r--   1 ftp  ftp   100 Jan 10 12:00 trailing   ", File("trailing   ")},
      {"-rw-r--r--   1 ftp  ftp   100 10 Jan 12:00 a->b.txt", File("a")},
      {"-> a b", kNoEntry},  // nothing is left once the link part is cut
      {"lrwx->x a b", kNoEntry},
      {"", kNoEntry},
      {" drwxr-xr-x 2 ftp ftp 512 Jan 10 12:00 pub", kNoEntry},
  });
}

// Windows-style lines are read by their shape whatever the dialect says.
TEST_F(ListingParserTest, WindowsStyleLinesInEveryDialect) {
  const std::vector<LineCase> cases = {
      {"12-07-26  04:31PM       <DIR>          My Folder", Dir("My Folder")},
      {"12-07-26  04:31PM              1234 report 2026.txt", File("report 2026.txt")},
      {"07-12-2026  16:31                 5 a  b.txt ", File("a  b.txt ")},
      {"01-02-26  09:05am       <DIR>          Early Folder", Dir("Early Folder")},
  };
  for (int d = 0; d < kServerTypeCount; ++d) ExpectLines(static_cast<TFTPServerType>(d), cases);
  ExpectLines(ftpstUNIX, {{"12-07-26  04:31PM       <DIR>", kNoEntry}, {"12-07-126  04:31PM  <DIR> x", kNoEntry}});
}

TEST_F(ListingParserTest, MlsdLines) {
  ExpectLines(kMlsd, {
      {"type=file;size=1234;modify=20260712163100; file with blank.txt", File("file with blank.txt")},
      {"Type=DIR;Modify=20260712163100; My Folder", Dir("My Folder")},
      {"type=cdir; /home/anna", kNoEntry},
      {"type=pdir; ..", kNoEntry},
      {"type=OS.unix=slink:/usr/bin; bin", Dir("bin")},  // links, and types unknown here
      {"type=file;x=a=b;; a=b; -> c  ", File("a=b; -> c  ")},
      {"type=file; ", kNoEntry},
      {"total 24", kNoEntry},
  });
}

// A size or time that is not one is left out.
TEST_F(ListingParserTest, MlsdSizeAndTimeAreKeptOnlyWhenValid) {
  const std::pair<std::string, ListingFacts> rows[] = {
      {"type=file;size=123456789012;modify=20000229235959; a", {123456789012, 951868799}},
      {"type=file;size=99999999999999999999;modify=20260230120000; a", {-1, -1}},
      {"type=file;size=-5;modify=20260712163100x; a", {-1, -1}},
  };
  for (const auto& [line, facts] : rows) {
    ListingEntry entry;
    ASSERT_TRUE(ParseMlsdLine(line, entry)) << line;
    EXPECT_EQ(entry.Facts.Size, facts.Size) << line;
    EXPECT_EQ(entry.Facts.Modified, facts.Modified) << line;
  }
}

TEST_F(ListingParserTest, EveryUnixDialectUsesTheUnixRule) {
  for (auto dialect : {ftpstDefault, ftpstUNIX, ftpstULTRIX, ftpstU5000, ftpstSINTFTPD}) {
    ExpectLine(dialect, "drwxr-xr-x 2 ftp ftp 512 Jan 10 12:00 pub", Dir("pub"));
    ExpectLine(dialect, "-rw-r--r-- 1 ftp ftp 12 Jan 10 12:00 a.txt", File("a.txt"));
  }
}

TEST_F(ListingParserTest, NoneDialectsYieldNothing) {
  const std::vector<std::string> lines = {
      "drwxr-xr-x 2 ftp ftp 512 Jan 10 12:00 pub",
      "README.TXT;3      5/6   12-MAR-1999 10:21:00 [GRP,OWN] (RWED,RWED,RE,)",
      "PROFILE  EXEC     A1 V 80 12 1 1999-01-01 12:00:00",
      "",
  };
  for (auto dialect : {ftpstAutoDetect, ftpstMVS, ftpstMacFtpd, ftpstClix, ftpstQVT, ftpstNCSA,
                       ftpstChameleon, static_cast<TFTPServerType>(kServerTypeCount),
                       static_cast<TFTPServerType>(255)}) {
    for (const auto& line : lines) ExpectLine(dialect, line, kNoEntry);
  }
  EXPECT_EQ(VmsPendingLine, "");
}

TEST_F(ListingParserTest, VmsRuleOnSingleLines) {
  ExpectLines(ftpstVmsUcx, {
      {"SUBDIR.DIR;1      1/3   12-MAR-1999 10:20:30 [GRP,OWN] (RWE,RWE,RE,RE)", Dir("SUBDIR")},
      {"README.TXT;3      5/6   12-MAR-1999 10:21:00 [GRP,OWN] (RWED,RWED,RE,)",
       File("README.TXT")},
      {"Directory DKA100:[FTP]", kNoEntry},
      {"Total of 2 files, 6/9 blocks.", kNoEntry},
      {"A.DIRECTORY;1 1/3", Dir("A")},
      {"X.DIR.OLD;2 1/3", Dir("X")},
      {"subdir.dir;1 1/3", File("subdir.dir")},  // ".DIR" is case-sensitive
      {"NOVERSION 1/3 ;", File("")},  // the name itself has no ";"
      {"", kNoEntry},
  });
}

TEST_F(ListingParserTest, VmsNameAloneIsJoinedWithTheNextLine) {
  ExpectLine(ftpstVmsMultinet, "A_LONG_NAME_OF_A_FILE.TXT;1", kNoEntry);
  EXPECT_EQ(VmsPendingLine, "A_LONG_NAME_OF_A_FILE.TXT;1");
  ExpectLine(ftpstVmsMultinet, "      12/15  12-MAR-1999 10:22:00 [GRP,OWN] (RWED,RWED,RE,)",
             File("A_LONG_NAME_OF_A_FILE.TXT"));
  EXPECT_EQ(VmsPendingLine, "");
  ExpectLine(ftpstVmsMultinet, "NEXT.TXT;1 1/3", File("NEXT.TXT"));
}

TEST_F(ListingParserTest, VmsPendingLineOutlivesTheListingAndTheComponent) {
  // Left pending at the end of one listing, it is joined with the first line of the next
  // VMS listing, whichever VMS dialect reads it.
  ExpectLine(ftpstVmsMultinet, "LEFT.DIR;1", kNoEntry);
  ExpectLine(ftpstUNIX, "-rw-r--r-- 1 ftp ftp 12 Jan 10 12:00 a.txt", File("a.txt"));
  EXPECT_EQ(VmsPendingLine, "LEFT.DIR;1");
  ExpectLine(ftpstVmsUcx, "OTHER.TXT;1 1/3", Dir("LEFT"));
}

TEST_F(ListingParserTest, VmsPendingLineBeginningWithABlankStaysPending) {
  ExpectLine(ftpstVmsUcx, " ODD.TXT;1 1/3", kNoEntry);
  for (const char* line : {"README.TXT;3 5/6", "SUBDIR.DIR;1 1/3", "no semicolon", ""}) {
    ExpectLine(ftpstVmsUcx, line, kNoEntry);
  }
  EXPECT_EQ(VmsPendingLine, " ODD.TXT;1 1/3README.TXT;3 5/6SUBDIR.DIR;1 1/3no semicolon");
}

TEST_F(ListingParserTest, VmsPendingLineIsDroppedOnceItOutgrowsAnyEntry) {
  // A server that keeps the first field empty cannot make the held text grow for ever.
  ExpectLine(ftpstVmsUcx, " ODD.TXT;1 1/3", kNoEntry);
  const std::string filler(1000, 'x');
  for (int i = 0; i < 20; ++i) ExpectLine(ftpstVmsUcx, filler + ";1", kNoEntry);
  EXPECT_EQ(VmsPendingLine, "");
  ExpectLine(ftpstVmsUcx, "README.TXT;3 5/6", File("README.TXT"));
}

TEST_F(ListingParserTest, VmRule) {
  ExpectLines(ftpstVM, {
      {"PROFILE  EXEC     A1 V 80 12 1 1999-01-01 12:00:00", File("PROFILE.EXEC")},
      {"", File(".")},
      {"ONLY", File(".")},
      {"ONE FIELD", File("ONE.")},
      {"totals: 3", File("totals:.")},  // no line is skipped
  });
}

TEST_F(ListingParserTest, VmVpsRule) {
  ExpectLines(ftpstVMVPS, {
      {"A1 PAYROLL DATA 80 12", File(".PAYROLL")},
      {"track limit 1000", kNoEntry},
      {"A1 X=Y DATA 80", kNoEntry},
      {"totals: 3 files", kNoEntry},
      {"A1 12 rf trks 80", kNoEntry},
      {"A1 PAYROLLrf trks 80", File(".PAYROLLrf")},  // the marker includes its blank
      {"TRACK LIMIT 1000 x", File(".LIMIT")},  // markers are case-sensitive
      {"SINGLE", File(".")},
      {"", File(".")},
  });
}

TEST_F(ListingParserTest, HostileLinesNeverThrowAndYieldOnlyWhatTheRulesGive) {
  const std::string longLine(100000, 'x');
  const std::vector<std::string> lines = {
      "",
      " ",
      std::string(5000, ' '),
      "->",
      "-> -> ->",
      "-" + std::string(5000, ' ') + "->",
      longLine,
      "-rw " + longLine + " " + longLine,
      std::string("-rw 1 a\0b", 9),
      std::string("\0\0\0", 3),
      ";" + std::string(3000, ';'),
  };
  for (int d = 0; d < 256; ++d) {
    for (const auto& line : lines) {
      SCOPED_TRACE("dialect " + std::to_string(d) + ", line length " +
                   std::to_string(line.size()));
      ListingEntry entry;
      EXPECT_NO_THROW(ParseListingLine(static_cast<TFTPServerType>(d), line, entry));
    }
  }
  VmsPendingLine.clear();
  // A zero byte is an ordinary character of the name.
  ExpectLine(ftpstUNIX, std::string("-rw 1 a\0b", 9), File(std::string("a\0b", 3)));
  ExpectLine(ftpstUNIX, "-" + std::string(5000, ' ') + "->", kNoEntry);
}

TEST(FtpTypeNamesTest, EveryServerTypeNameRoundTrips) {
  for (int i = 0; i < kServerTypeCount; ++i) {
    const auto type = static_cast<TFTPServerType>(i);
    SCOPED_TRACE(i);
    const std::string name = ServerTypeName(type);
    EXPECT_EQ(name.rfind("ftpst", 0), 0u);
    TFTPServerType parsed = ftpstAutoDetect;
    ASSERT_TRUE(ServerTypeFromName(name, parsed));
    EXPECT_EQ(parsed, type);
  }
  EXPECT_STREQ(ServerTypeName(ftpstVmsUcx), "ftpstVmsUcx");
  EXPECT_STREQ(ServerTypeName(ftpstVMVPS), "ftpstVMVPS");
  TFTPServerType untouched = ftpstVM;
  EXPECT_FALSE(ServerTypeFromName("ftpstvmsucx", untouched));
  EXPECT_FALSE(ServerTypeFromName("", untouched));
  EXPECT_EQ(untouched, ftpstVM);
}

TEST(FtpTypeNamesTest, InfoAndNeedNamesMatchTheirValues) {
  EXPECT_STREQ(FtpInfoName(ftpiConnected), "ftpiConnected");
  EXPECT_STREQ(FtpInfoName(ftpiTransferDone), "ftpiTransferDone");  // after the unused 8
  EXPECT_STREQ(FtpInfoName(ftpiListingLine), "ftpiListingLine");
  EXPECT_STREQ(FtpInfoNeededName(ftpnServer), "ftpnServer");
  EXPECT_STREQ(FtpInfoNeededName(ftpnAccount), "ftpnAccount");
  EXPECT_STREQ(ServerTypeName(static_cast<TFTPServerType>(16)), "ftpstUnknown");
  EXPECT_STREQ(FtpInfoName(ftpiPassiveAddress), "ftpiPassiveAddress");
  EXPECT_STREQ(FtpInfoName(static_cast<FtpInfo>(ftpiLocalFileChanged + 1)), "ftpiUnknown");
  EXPECT_STREQ(FtpInfoNeededName(static_cast<TFtpInfoNeeded>(4)), "ftpnUnknown");
}

}  // namespace
