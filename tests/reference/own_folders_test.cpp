// The guard on the daemon's own folders, judged on resolved paths: a link's
// target, and for a tail that does not exist yet, its parent's.
#include "own_folders.h"

#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korvane::reference {
namespace {

namespace fs = std::filesystem;

TEST(OwnFolders, PathsAreJudgedWhereTheyLead) {
  testing::ScopedRuntimeFolder folder;
  const std::string top = fs::canonical(folder.Path()).string();
  const std::string state = top + "/home/.local/state/korvane";
  const std::string data = top + "/home/.local/share/korvane";
  fs::create_directories(state);
  fs::create_directories(top + "/work");
  fs::create_directory_symlink(top + "/home/.local/state", top + "/work/L");
  const std::vector<std::string> own = {state, data};  // data does not exist yet

  const struct {
    std::string path;
    server::Reach reach;
    bool touched;
  } cases[] = {
      {state, server::Reach::Into, true},
      {state + "/activations.new", server::Reach::Into, true},
      {top + "/work/L/korvane", server::Reach::Move, true},
      {top + "/work/L/korvane/removed/x", server::Reach::Into, true},
      {top + "/home/.local", server::Reach::Move, true},
      {top + "/home/.local", server::Reach::Into, false},
      {top + "/home", server::Reach::Into, false},
      {data + "/spaces/new", server::Reach::Into, true},
      {top + "/home/.local/share", server::Reach::Move, true},
      {top + "/work/L", server::Reach::Into, false},  // the link's folder holds the state folder...
      {top + "/work/L", server::Reach::Move, true},   // ...so moving it moves the state
      {top + "/work/korvane", server::Reach::Move, false},
      {state + "-other", server::Reach::Move, false},
      {"/", server::Reach::Move, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(server::OwnFolderTouched(own, c.path, c.reach).has_value(), c.touched) << c.path;
  }
  EXPECT_EQ(server::ResolvedPath(top + "/work/L/not/yet"), top + "/home/.local/state/not/yet");
  EXPECT_EQ(server::ResolvedPath("/"), "/");
}

}  // namespace
}  // namespace korvane::reference
