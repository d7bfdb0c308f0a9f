// The written form of local folders on Windows, in which activations are
// kept and requests compared.
#include "local_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(LocalPathOnWindows, DrivesAndSharesHaveOneWrittenForm) {
  struct Case {
    std::string given;
    std::optional<std::string> canonical;
  };
  const Case cases[] = {
      {"C:\\Users\\ann\\Plans", "C:/Users/ann/Plans"},
      {"c:/Users/ann/Plans/", "C:/Users/ann/Plans"},
      {"C:\\Users\\\\ann\\.\\Plans\\", "C:/Users/ann/Plans"},
      {"C:\\", "C:/"},
      {"d:", std::nullopt},  // the current folder of drive D: is relative
      {"C:\\Users\\Übersicht 計画", "C:/Users/Übersicht 計画"},
      {"\\\\server\\share\\team\\plans", "//server/share/team/plans"},
      {"//server/share", "//server/share"},
      {"\\\\server", std::nullopt},
      {"\\\\?\\C:\\Users", std::nullopt},
      {"\\\\.\\pipe\\DalvDaemonCommand", std::nullopt},
      {"Users\\ann", std::nullopt},
      {"\\Users\\ann", std::nullopt},
      {"/home/ann", std::nullopt},
      {"C:\\Users\\..\\Windows", std::nullopt},
      {"C:\\Users\\ann\\notes.txt:hidden", std::nullopt},
      {"C:\\two\nlines", std::nullopt},
      {std::string("C:\\nul\0byte", 11), std::nullopt},
  };
  for (const Case& each : cases) {
    EXPECT_EQ(korvane::server::CanonicalLocalPath(each.given), each.canonical) << each.given;
  }
}

}  // namespace
