// Activations through the library: what the list and the status queries
// report after each change, and which paths the daemon refuses to keep.
#include "reference_daemon.h"

#include "korvane/korvane.h"
#include "support/svn_repository.h"

#include <gtest/gtest.h>

#include <fstream>

namespace korvane::reference {
namespace {

class Activation : public ServingDaemonTest {
 protected:
  static void Activate(const std::string& path, int mode) {
    ASSERT_EQ(Korvane_ActivatePath(Wide(path).c_str(), mode), 1);
  }
  static void Deactivate(const std::string& path) { ASSERT_EQ(Korvane_DeactivatePath(Wide(path).c_str()), 1); }
};

// A path asked about and the status record expected.
using StatusCase = std::pair<std::string, std::string>;

TEST_F(Activation, StatusNamesTheCoveringFolderAndThePathAsked) {
  const std::string outer = Folder("outer");
  const std::string inner = Folder("outer/inner");
  const std::string other = Folder("other");
  Activate(outer, 2);
  Activate(inner, 3);
  // Paths that cannot be kept are refused.
  for (const std::string path : {"relative/folder", "", "/a/../b"}) Activate(path, 2);
  EXPECT_EQ(Activations(), "2|" + outer + "\n3|" + inner + "\n");
  const StatusCase cases[] = {
      {outer, "2||" + outer + "|" + outer + "|"},
      {outer + "/sub", "2||" + outer + "|" + outer + "/sub|"},
      {inner + "/deep/er", "3||" + inner + "|" + inner + "/deep/er|"},
      {outer + "/inner-not", "2||" + outer + "|" + outer + "/inner-not|"},
      {other, "0|||" + other + "|"},
  };
  for (const auto& [asked, expected] : cases) EXPECT_EQ(Status(asked), expected) << asked;

  Deactivate(inner);
  EXPECT_EQ(Status(inner + "/deep"), "2||" + outer + "|" + inner + "/deep|");
  Deactivate(outer);
  EXPECT_EQ(Activations(), "");
  EXPECT_EQ(Status(outer), "0|||" + outer + "|");
}

TEST_F(Activation, StatusInAWorkingCopyGivesItsRepositoryRoot) {
  testing::SvnRepository repository("repos/main", {"trunk/", "trunk/file.txt"});
  const std::string trunk = repository.WorkingCopy() + "/trunk";
  std::ofstream(trunk + "/unversioned.txt") << "new\n";
  Activate(trunk, 1);
  const std::string root = repository.Url();
  const StatusCase cases[] = {
      {repository.WorkingCopy(), "0|" + root + "||" + repository.WorkingCopy() + "|"},
      {trunk + "/file.txt", "1|" + root + "|" + trunk + "|" + trunk + "/file.txt|"},
      {trunk + "/unversioned.txt", "1|" + root + "|" + trunk + "|" + trunk + "/unversioned.txt|"},
      {repository.Folder(), "0|||" + repository.Folder() + "|"},
  };
  for (const auto& [asked, expected] : cases) EXPECT_EQ(Status(asked), expected) << asked;
}

// A key and its code give the same text (by code, and the key DONE, are in
// the transport's test).
TEST_F(Activation, ErrorTextsByKeyAndByCode) {
  const std::pair<const char*, const char*> cases[] = {
      {"NOT_FOUND", "The path or repository does not exist."},
      {"-6", "The path is not in a Subversion working copy."},
      {nullptr, "No error key was given."},
      {"nonsense", "The error key \"nonsense\" is not known."},
  };
  for (const auto& [key, expected] : cases) {
    char* text = nullptr;
    ASSERT_EQ(Korvane_GetErrorText(key, &text), 1);
    EXPECT_EQ(Take(text), expected) << (key != nullptr ? key : "(null)");
  }
}

}  // namespace
}  // namespace korvane::reference
