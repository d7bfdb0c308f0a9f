// The team service's members property as text, and the
// daemon's configuration file: what is read, and what is written back.
#include "access_file.h"
#include "service_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace korvane::server::team {
namespace {

TEST(Members, ReadAndWrittenAsUserTabRoleLines) {
  const struct {
    const char* text;
    std::map<std::string, std::string> members;
  } cases[] = {
      {"", {}},
      {"ann\towner\n", {{"ann", "owner"}}},
      {"bob\nann\towner\n\n", {{"ann", "owner"}, {"bob", "member"}}},
      // Lines that break the rule of names grant nothing.
      {"ann\towner\n[/plans] x\towner\n@nobody\tmember\n*\treader\n", {{"ann", "owner"}}},
      {"ann\towner\n$authenticated\nbob\tadmin\ncarl\tnone\n", {{"ann", "owner"}}},
  };
  for (const auto& each : cases) EXPECT_EQ(ParseMembers(each.text), each.members) << each.text;
  EXPECT_EQ(RenderMembers({{"bob", "reader"}, {"ann", "owner"}}), "ann\towner\nbob\treader\n");
}

}  // namespace
}  // namespace korvane::server::team

namespace korvane::server {
namespace {

TEST(ServiceConfig, NamesTheServiceAndItsCredentialsFolder) {
  const struct {
    const char* text;
    std::string url, subversionConfig, user;
    bool problems;
  } cases[] = {
      {"", "", "", "", false},
      {"# a team\nservice = svn://host:3690/svn.halcyra.com/svn/team/\nuser = ann\n",
       "svn://host:3690/svn.halcyra.com/svn/team", "", "ann", false},
      {"  subversion-config=/home/a/svn  \nuser=bo\n", "", "/home/a/svn", "bo", false},
      {"password = secret\nuser = ann\n", "", "", "ann", true},
  };
  const std::string file = ::testing::TempDir() + "/daemon.conf";
  for (const auto& each : cases) {
    std::ofstream(file) << each.text;
    std::string problems;
    const ServiceConfig config = ReadServiceConfig(file, problems);
    EXPECT_EQ(config.url, each.url) << each.text;
    EXPECT_EQ(config.subversionConfig, each.subversionConfig) << each.text;
    if (!each.user.empty()) {
      EXPECT_EQ(config.user, each.user) << each.text;
    }
    EXPECT_EQ(!problems.empty(), each.problems) << problems;
  }
  std::remove(file.c_str());
}

}  // namespace
}  // namespace korvane::server
