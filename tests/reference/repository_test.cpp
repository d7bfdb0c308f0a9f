// The repository and local-directory commands through the library: real
// repositories, working copies and folders, and the verdict each gives.
#include "reference_daemon.h"

#include "korvane/korvane.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace korvane::reference {
namespace {

namespace fs = std::filesystem;

using Repository = ServingDaemonTest;

// The verdict of a command given its text arguments.
template <typename... Arguments>
std::string Ask(int32_t (*command)(Arguments...), const auto&... texts) {
  char* verdict = nullptr;
  EXPECT_EQ(command(Wide(texts).c_str()..., &verdict), 1);
  return Take(verdict);
}

std::string Done(const std::string& operation, const std::string& detail, const std::string& specifics = "") {
  return "0|" + operation + "|The operation completed." + (specifics.empty() ? "" : " (" + specifics + ")") + "|0|" +
         detail + "|";
}

TEST_F(Repository, CreateCheckOutAddCommitAndCopyIn) {
  const std::string repository = Folder("repos") + "/main";
  const std::string url = "file://" + repository;
  const std::string workingCopy = Folder("wc");
  EXPECT_EQ(Ask(Korvane_CreateRepo, repository), Done("createRepo", url));
  EXPECT_EQ(Ask(Korvane_OpenRepo, url), Done("openRepo", url, "youngest revision 0"));
  EXPECT_EQ(Ask(Korvane_SvnCheckoutWait, url, workingCopy), Done("svnCheckoutWait", "0"));

  std::ofstream(workingCopy + "/notes.txt") << "first\n";
  EXPECT_EQ(Ask(Korvane_SvnAdd, workingCopy + "/notes.txt"), Done("svnAdd", workingCopy + "/notes.txt"));
  EXPECT_EQ(Ask(Korvane_SvnCommit, workingCopy), Done("svnCommit", "1"));
  EXPECT_EQ(Ask(Korvane_SvnCommit, workingCopy), Done("svnCommit", ""));
  EXPECT_EQ(Korvane_IsVersioned(Wide(workingCopy + "/notes.txt").c_str()), 1);
  EXPECT_EQ(Status(workingCopy + "/notes.txt"), "0|" + url + "||" + workingCopy + "/notes.txt|");

  const std::string share = Folder("share");
  std::ofstream(share + "/a.txt") << "a\n";
  EXPECT_EQ(Ask(Korvane_CopyToRepo, share, url + "/shared"), Done("copyToRepo", "2"));
  EXPECT_EQ(Ask(Korvane_SvnCheckoutWait, url + "/shared", Folder("copy")), Done("svnCheckoutWait", "2"));
  EXPECT_TRUE(fs::exists(Folder("copy") + "/a.txt"));

  // The one-way checkout reports nothing; its activation shows when it is done.
  const std::string background = TemporaryFolder() + "/wc";
  ASSERT_EQ(Korvane_Checkout(Wide(url).c_str(), Wide(background).c_str(), 3), 1);
  EXPECT_TRUE(Eventually([&] { return !Activations().empty(); }));
  EXPECT_EQ(Activations(), "3|" + background + "\n");
  EXPECT_EQ(Korvane_IsVersioned(Wide(background).c_str()), 1);
}

TEST_F(Repository, RemovedFoldersComeBackAndRenamedOnesMoveAside) {
  const std::string folder = Folder("share");
  std::ofstream(folder + "/keep.txt") << "keep\n";
  EXPECT_EQ(Ask(Korvane_RemoveLDir, folder, "k1"), Done("removeLDir", "k1"));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(Ask(Korvane_RestoreLDir, "", "k1"), Done("restoreLDir", folder));
  EXPECT_TRUE(fs::exists(folder + "/keep.txt"));

  EXPECT_EQ(Ask(Korvane_RenameLDir, folder), Done("renameLDir", folder + " (old)"));
  Folder("share");
  EXPECT_EQ(Ask(Korvane_RenameLDir, folder), Done("renameLDir", folder + " (old 2)"));
  EXPECT_TRUE(fs::exists(folder + " (old)/keep.txt"));

  const std::string scratch = TemporaryFolder() + "/scratch";
  fs::create_directories(scratch + "/inner");
  EXPECT_EQ(Ask(Korvane_RemoveTmpDir, scratch), Done("removeTmpDir", scratch));
  EXPECT_FALSE(fs::exists(scratch));
}

TEST_F(Repository, FailuresCarryTheirCodeAndKey) {
  const std::string plain = Folder("plain");
  std::ofstream(plain + "/file.txt") << "x\n";
  // Each verdict with how it must begin (code|operation|) and its key.
  const std::string cases[][3] = {
      {Ask(Korvane_CreateRepo, plain), "-5|createRepo|", "ALREADY_EXISTS"},
      {Ask(Korvane_OpenRepo, plain), "-4|openRepo|", "NOT_FOUND"},
      {Ask(Korvane_SvnCheckoutWait, "not a url", plain), "-2|svnCheckoutWait|", "BAD_ARGUMENTS"},
      {Ask(Korvane_SvnCommit, plain), "-6|svnCommit|", "NOT_WORKING_COPY"},
      {Ask(Korvane_RestoreLDir, plain, "nothing"), "-4|restoreLDir|", "NOT_FOUND"},
      {Ask(Korvane_RemoveLDir, "relative", ""), "-2|removeLDir|", "BAD_ARGUMENTS"},
      {Ask(Korvane_RemoveTmpDir, plain), "-11|removeTmpDir|", "NOT_ALLOWED"},  // outside the temporary folder
  };
  for (const auto& [verdict, start, key] : cases) {
    EXPECT_TRUE(verdict.starts_with(start)) << verdict;
    EXPECT_TRUE(verdict.ends_with("|" + key + "|")) << verdict;
  }
  EXPECT_TRUE(fs::exists(plain + "/file.txt"));
}

}  // namespace
}  // namespace korvane::reference
