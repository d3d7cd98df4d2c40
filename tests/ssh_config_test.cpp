// The user's SSH configuration as OpenSSH reads it, for the keywords the SFTP component
// takes: Host blocks with patterns, the first value winning, IdentityFile adding up.
#include <gtest/gtest.h>

#include "sftp/SshConfig.h"

namespace talvo::test {
namespace {

TEST(SshConfigTest, WhatEachHostGets) {
  const std::string text =
      "# global lines apply to every host\n"
      "IdentityFile ~/.ssh/id_all\n"
      "Host prod *.example !bad.example\n"
      "  HostName srv-%h.internal\n"
      "  Port 2222\n"
      "  User=deploy\n"
      "  IdentityFile \"%d/.ssh/my key\"\n"
      "Host *\n"
      "  Port 2200\n"
      "  User everyone\n"
      "Match host prod\n"
      "  Port 1\n";
  struct Row {
    std::string alias;
    TSshHostConfig expected;
  };
  const std::vector<Row> rows = {
      {"prod", {"srv-prod.internal", 2222, "deploy", {"/home/anna/.ssh/id_all", "/home/anna/.ssh/my key"}}},
      {"web.example",
       {"srv-web.example.internal", 2222, "deploy", {"/home/anna/.ssh/id_all", "/home/anna/.ssh/my key"}}},
      {"bad.example", {"bad.example", 2200, "everyone", {"/home/anna/.ssh/id_all"}}},
      {"PROD", {"srv-PROD.internal", 2222, "deploy", {"/home/anna/.ssh/id_all", "/home/anna/.ssh/my key"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.alias);
    const TSshHostConfig config = ReadSshConfig(text, row.alias, "/home/anna", "anna");
    EXPECT_EQ(config.HostName, row.expected.HostName);
    EXPECT_EQ(config.Port, row.expected.Port);
    EXPECT_EQ(config.User, row.expected.User);
    EXPECT_EQ(config.IdentityFiles, row.expected.IdentityFiles);
  }
  const TSshHostConfig none = ReadSshConfigFile("/nonexistent/config", "srv", "/home/anna", "anna");
  EXPECT_EQ(none.HostName, "srv");
  EXPECT_EQ(none.Port, 0);
  EXPECT_TRUE(none.IdentityFiles.empty());
}

}  // namespace
}  // namespace talvo::test
