// The pure pieces of the control side: the dialect from a SYST reply, the directory from a
// PWD reply, the size announced before a download, the PORT argument, and the cutting of
// control text into lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ControlLineSplitter.h"
#include "ftp/FtpReply.h"
#include "ftp/ReplyParsing.h"

namespace {

using Lines = std::vector<std::string>;

TEST(ReplyParsingTest, CodeAndClassReadOnce) {
  const struct {
    std::string line;
    int code, cls;
    bool final;
  } rows[] = {
      {"226 Transfer complete", 226, 2, true}, {"150 Opening", 150, 1, false}, {"426", 426, 4, true},
      {"5x0 odd", 0, 5, true},  // the class alone, as the first digit says
      {"22", 0, 2, true},       {"x26 no", 0, 0, false},                      {"", 0, 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const TFtpReply reply = ParseReply(row.line);
    EXPECT_EQ(reply.Code, row.code);
    EXPECT_EQ(reply.Class, row.cls);
    EXPECT_EQ(reply.Final(), row.final);
    EXPECT_EQ(reply.Line, row.line);
  }
}

TEST(ReplyParsingTest, ServerTypeFromSyst) {
  const struct {
    std::string reply;
    TFTPServerType type;
  } rows[] = {
      {"215 UNIX Type: L8", ftpstUNIX},
      {"215 unix type: l8", ftpstUNIX},
      {"215 UNIX emulated by NCSA Telnet", ftpstNCSA},
      {"215 NCSA", ftpstNCSA},
      {"215 CLIX", ftpstClix},
      {"215 CLIX and ULTRIX", ftpstULTRIX},
      {"215 ULTRIX", ftpstULTRIX},
      {"215 MVS is the operating system of this server", ftpstMVS},
      {"215 MVS on a UNIX box", ftpstMVS},
      {"215 QVT/Net", ftpstQVT},
      {"215 NetManage Chameleon", ftpstChameleon},
      {"215 VMS", ftpstVmsUcx},
      {"215 UNIX and VMS", ftpstVmsUcx},
      {"215 VMS MultiNet V3.5", ftpstVmsMultinet},
      {"215 multinet alone", ftpstDefault},
      {"215 VM/ESA is the operating system", ftpstVM},
      {"215 VM with VPS", ftpstVMVPS},
      {"215 VPS alone", ftpstDefault},
      {"215 Windows_NT", ftpstDefault},
      {"421 UNIX going down", ftpstUNIX},
      {"500 UNIX", ftpstDefault},
      {"530 VMS MultiNet", ftpstDefault},
      {"215UNIX", ftpstDefault},  // the text starts at the fifth character
      {"215 " + std::string(95, '.') + "UNIX", ftpstUNIX},
      {"215 " + std::string(96, '.') + "UNIX", ftpstDefault},  // beyond 99 characters
      {"215 ", ftpstDefault},
      {"215", ftpstDefault},
      {"", ftpstDefault},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reply);
    EXPECT_STREQ(ServerTypeName(ServerTypeFromSyst(row.reply)), ServerTypeName(row.type));
  }
}

TEST(ReplyParsingTest, DirectoryFromPwd) {
  const std::string longName = "/" + std::string(2000, 'd');
  const struct {
    std::string reply;
    std::string directory;
  } rows[] = {
      {"257 \"/home/anna\" is the current directory", "/home/anna"},
      {"257 \"/\"", "/"},
      {"257 \"/pub/My Files\" is current", "/pub/My Files"},
      {"257 \"/a\" and \"/b\"", "/a"},
      {"257 \"\" is empty", ""},
      {"257 /home/anna without quotes", ""},
      {"257 \"/unterminated", ""},
      {"257 \"/say \"\"hi\"\"\" is current", "/say \"hi\""},  // a quote inside is written twice
      {"257 \"/site/q\"\"x\"", "/site/q\"x"},
      {"257 \"/a\"\"", ""},  // no closing quote
      {"257 \"" + longName + "\" is current", longName},
      {"", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reply.substr(0, 60));
    EXPECT_EQ(DirectoryFromPwd(row.reply), row.directory);
  }
}

TEST(ReplyParsingTest, TransferSizeFromReply) {
  const struct {
    std::string reply;
    bool found;
    std::string size;
  } rows[] = {
      {"150 Opening BINARY mode data connection for x (1234 bytes)", true, "1234"},
      {"150 Opening BINARY mode data connection for x (1234 bytes).", true, "1234"},
      {"150 Opening data connection for big (4294967296 bytes)", true, "4294967296"},
      {"150 Opening (first) data connection (1234 bytes)", true, "first)"},
      {"150 Opening ( 5 bytes)", true, ""},
      {"150 Opening data connection for x", false, ""},
      {"150 Opening data connection for x (1234)", false, ""},
      {"150 (", false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reply);
    std::string size;
    EXPECT_EQ(TransferSizeFromReply(row.reply, size), row.found);
    if (row.found) {
      EXPECT_EQ(size, row.size);
    }
  }
}

TEST(ReplyParsingTest, DataPortCommand) {
  const struct {
    std::string address;
    std::uint16_t port;
    std::string command;
  } rows[] = {
      {"127.0.0.1", 21, "PORT 127,0,0,1,0,21"},
      {"127.0.0.1", 65535, "PORT 127,0,0,1,255,255"},
      {"192.168.10.20", 4660, "PORT 192,168,10,20,18,52"},
      {"10.0.0.1", 255, "PORT 10,0,0,1,0,255"},
      {"10.0.0.1", 256, "PORT 10,0,0,1,1,0"},
      {"::1", 6446, "EPRT |2|::1|6446|"},
      {"::ffff:127.0.0.1", 21, "PORT 127,0,0,1,0,21"},  // an IPv4 address to the server
      {"fe80::1%eth0", 21, "EPRT |2|fe80::1|21|"},  // the zone means nothing to the server
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.command);
    EXPECT_EQ(DataPortCommand(row.address, row.port), row.command);
  }
}

// Feeds `pieces` to a splitter, taking lines after each piece as the control reader does.
Lines SplitLines(const std::vector<std::string>& pieces, ControlLineSplitter& splitter) {
  Lines lines;
  std::string line;
  for (const std::string& piece : pieces) {
    splitter.Append(piece);
    while (splitter.NextLine(line)) lines.push_back(line);
  }
  return lines;
}

TEST(ControlLineSplitterTest, CrLfSplitAnywhereGivesTheSameLines) {
  const std::string text = "220-a\r\n220 b\r\n331 c\r\n";
  const Lines expected = {"220-a", "220 b", "331 c"};
  for (std::size_t first = 0; first <= text.size(); ++first) {
    for (std::size_t second = first; second <= text.size(); ++second) {
      SCOPED_TRACE("cuts at " + std::to_string(first) + " and " + std::to_string(second));
      ControlLineSplitter splitter(1024);
      const Lines lines = SplitLines({text.substr(0, first), text.substr(first, second - first), text.substr(second)}, splitter);
      EXPECT_EQ(lines, expected);
      EXPECT_EQ(splitter.Pending(), "");
    }
  }
}

TEST(ControlLineSplitterTest, OnlyCrLfEndsALine) {
  const struct {
    const char* name;
    std::vector<std::string> pieces;
    Lines lines;
    std::string pending;
  } rows[] = {
      {"lone LF kept inside", {"a\nb\r\n"}, {"a\nb"}, ""},
      {"lone CR kept inside", {"a\rb\r\n"}, {"a\rb"}, ""},
      {"CR before CR LF", {"x\r\r\n"}, {"x\r"}, ""},
      {"LF before CR LF", {"\n\r\n"}, {"\n"}, ""},
      {"LF CR is no line end", {"a\n\rb"}, {}, "a\n\rb"},
      {"empty line", {"\r\n"}, {""}, ""},
      {"text after the last CR LF waits", {"220 a\r\n331 par", "tial"}, {"220 a"}, "331 partial"},
      {"CR and LF in separate pieces", {"220 a\r", "\n"}, {"220 a"}, ""},
      {"CR LF split after a lone CR", {"a\r", "\r", "\n"}, {"a\r"}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ControlLineSplitter splitter(1024);
    EXPECT_EQ(SplitLines(row.pieces, splitter), row.lines);
    EXPECT_EQ(splitter.Pending(), row.pending);
  }
}

TEST(ControlLineSplitterTest, OverflowCountsOnlyTextWithoutLineEnd) {
  ControlLineSplitter splitter(8);
  std::string many;
  for (int i = 0; i < 100; ++i) many += "1234567\r\n";
  EXPECT_EQ(SplitLines({many}, splitter).size(), 100u);
  EXPECT_FALSE(splitter.Overflow()) << "ended lines never count";

  SplitLines({"12345678"}, splitter);
  EXPECT_FALSE(splitter.Overflow()) << "up to the cap is kept";
  SplitLines({"9"}, splitter);
  EXPECT_TRUE(splitter.Overflow());

  splitter.Clear();
  EXPECT_FALSE(splitter.Overflow());
  EXPECT_EQ(SplitLines({"ok\r\n"}, splitter), Lines{"ok"});
}

}  // namespace
