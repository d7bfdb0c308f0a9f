// KorvaneBkgProc on Windows, as the library's users meet it: started with
// private application data folders, it serves the daemon pipe, answers the
// library's exports with its embedded hosting service, lets a second start
// leave at once, and ends on the stop request.
#include "korvane/korvane.h"
#include "support/windows/windows_helpers.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

using Outputs = std::array<std::string, 3>;

// The program's path as the build names it (a POSIX path when the build ran
// on Linux, which Wine's drive Z: shows).
std::wstring DaemonProgram() {
  std::string path = KORVANE_REFERENCE_DAEMON;
  if (path.starts_with("/")) path = "Z:" + path;
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
  return wide;
}

std::string Taken(char* text) {
  std::string value = text != nullptr ? text : "";
  if (text != nullptr) ::HeapFree(::GetProcessHeap(), 0, text);
  return value;
}

std::optional<Outputs> ListSpaces() {
  char* out[3] = {};
  if (Korvane_ListSpaces(nullptr, nullptr, &out[0], &out[1], &out[2]) != 1) return std::nullopt;
  return Outputs{Taken(out[0]), Taken(out[1]), Taken(out[2])};
}

Outputs CreateSpace(const std::string& name, const std::string& owner) {
  char* out[3] = {};
  const std::wstring wideName = Wide(name);
  const std::wstring description = L"a space";
  const std::wstring wideOwner = Wide(owner);
  const auto text = [](const std::wstring& s) { return reinterpret_cast<const KorvaneChar*>(s.c_str()); };
  EXPECT_EQ(Korvane_CreateSpace(text(wideName), text(description), text(wideOwner), nullptr, &out[0], &out[1], &out[2]),
            1);
  return {Taken(out[0]), Taken(out[1]), Taken(out[2])};
}

// Removes the tree, whose repository files Subversion made read-only.
void RemoveTree(const fs::path& root) {
  std::error_code ignored;
  for (fs::recursive_directory_iterator walk(root, ignored), end; walk != end; walk.increment(ignored)) {
    ::SetFileAttributesW(walk->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  fs::remove_all(root, ignored);
}

// The daemon's application data folders, private to the test and named to
// it through the variables the daemon reads before the system's folders.
class PrivateAppData {
 public:
  PrivateAppData() {
    wchar_t temporary[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temporary);
    root_ = fs::path(temporary) / (L"korvane-daemon-" + std::to_wstring(::GetCurrentProcessId()));
    RemoveTree(root_);
    fs::create_directories(root_ / L"local");
    fs::create_directories(root_ / L"roaming");
    ::SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", (root_ / L"local").c_str());
    ::SetEnvironmentVariableW(L"KORVANE_APP_DATA", (root_ / L"roaming").c_str());
  }
  ~PrivateAppData() {
    ::SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", nullptr);
    ::SetEnvironmentVariableW(L"KORVANE_APP_DATA", nullptr);
    RemoveTree(root_);
  }
  fs::path Local() const { return root_ / L"local" / L"Korvane"; }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

UniqueHandle Start() {
  std::wstring command = L"\"" + DaemonProgram() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ThrowLastError("cannot start the reference daemon");
  }
  ::CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

// The exit code once the process ended within the wait, else nothing.
std::optional<DWORD> ExitWithin(HANDLE process, std::chrono::milliseconds wait) {
  if (::WaitForSingleObject(process, static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  return code;
}

// Until the pipe answers; a daemon that failed to start has ended.
bool Answers(HANDLE process) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ListSpaces()) return true;
    if (ExitWithin(process, std::chrono::milliseconds(0))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST(ReferenceDaemonProgram, ServesThePipeHostsSpacesAndStopsOnRequest) {
  const PrivateAppData appData;
  const UniqueHandle daemon = Start();
  ASSERT_TRUE(Answers(daemon.get())) << "the daemon did not serve the pipe";

  // A fresh hosting service has no space; one created is listed and its
  // repository lies in the private local application data folder.
  EXPECT_EQ(ListSpaces(), (Outputs{"0", "", ""}));
  const Outputs created = CreateSpace("Plans 2026", "ann");
  EXPECT_TRUE(created[0].starts_with("file:///") && created[0].ends_with("/svn.halcyra.com/svn/Plans%202026"))
      << created[0];
  EXPECT_EQ(created[1], "created");
  EXPECT_EQ(ListSpaces(), (Outputs{"1", "Plans 2026\n", ""}));
  EXPECT_TRUE(fs::is_directory(appData.Local() / L"data" / L"spaces" / L"svn.halcyra.com" / L"svn" / L"Plans 2026"));
  EXPECT_TRUE(fs::is_regular_file(appData.Local() / L"state" / L"daemon.log"));

  // A folder named as Windows names it is activated in one written form.
  const fs::path shared = appData.Root() / L"Übersicht";
  fs::create_directories(shared);
  ASSERT_EQ(Korvane_ActivatePath(reinterpret_cast<const KorvaneChar*>(shared.c_str()), 1), 1);
  std::string canonical = Utf8(shared.wstring());
  for (char& c : canonical) c = c == '\\' ? '/' : c;
  char* list = nullptr;
  ASSERT_EQ(Korvane_GetActivations(&list), 1);
  EXPECT_NE(Taken(list).find(canonical), std::string::npos) << canonical;

  // One daemon a session: a second start finds the pipe served and leaves.
  const UniqueHandle second = Start();
  EXPECT_EQ(ExitWithin(second.get(), std::chrono::seconds(30)), std::optional<DWORD>(0));
  EXPECT_FALSE(ExitWithin(daemon.get(), std::chrono::milliseconds(0)));

  EXPECT_EQ(Korvane_StopDaemon(), 1);
  EXPECT_EQ(ExitWithin(daemon.get(), std::chrono::seconds(30)), std::optional<DWORD>(0));
  EXPECT_FALSE(ListSpaces()) << "nothing serves the pipe after the stop";
}

}  // namespace
}  // namespace korvane::testing
