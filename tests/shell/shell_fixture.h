// A handler driven as the shell drives it, against a test server, with
// settings of the test's own and real working copies.
#pragma once

#include "platform/windows_api.h"

#include "support/daemon_processes.h"
#include "support/runtime_folder.h"
#include "support/scoped_settings.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane::shell {

inline constexpr char kTortoiseSvnInstalled[] =
    "[HKEY_CURRENT_USER\\SOFTWARE\\TortoiseSVN]\n\"Directory\"=\"C:\\\\Program Files\\\\TortoiseSVN\"\n";

class ShellTest : public ::testing::Test {
 protected:
  ShellTest();
  ~ShellTest() override;

  // A new handler (its IContextMenu face) for the one item, or for the
  // background of the folder; null when Initialize refused it.
  IContextMenu* HandlerFor(const std::string& path, bool background = false);
  // Initialize's result for a selection of these items.
  HRESULT InitializeWith(IShellExtInit* init, const std::vector<std::string>& paths);

  // Runs QueryContextMenu on the shell menu, made if there is none yet;
  // returns its result.
  HRESULT Query(IContextMenu* handler, UINT flags = CMF_NORMAL, UINT indexMenu = 0, UINT idCmdFirst = 100);
  // Destroys the shell menu: the next query builds on a new one.
  void NewShellMenu();
  // The texts of the product's submenu, "-" for a separator.
  std::vector<std::string> SubmenuTexts() const;
  // What the shell menu holds: each entry's text.
  std::vector<std::string> ShellMenuTexts() const;

  // Frames the daemon received on notification channels (close frames left out).
  std::vector<std::string> OneWayFrames() const;

  testing::ScopedRuntimeFolder folder_;
  testing::DaemonProcesses processes_{folder_.Path(), testing::kWellKnownPipeName};
  testing::ScopedSettings settings_;
  testing::TestServer daemon_{testing::kWellKnownPipeName};
  HMENU shellMenu_ = nullptr;
  std::vector<IContextMenu*> handlers_;
};

}  // namespace korvane::shell
