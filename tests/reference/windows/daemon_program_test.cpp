// KorvaneBkgProc on Windows, as the library's users meet it: started with
// private application data folders, it serves the daemon pipe, answers the
// library's exports with its embedded hosting service, lets a second start
// leave at once and ends on the stop request. At its limits and refusals:
// requests past the packet limit, requests that reach its own folders by
// another case or short 8.3 names, and a pipe name another user's process
// holds already. As a team's member: a space made, checked out and committed
// over https. (The bound of pipe instances is the listener's:
// tests/daemon_platform/windows/pipe_server_test.cpp.)
#include "korvane/korvane.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "support/test_server.h"
#include "support/windows/windows_helpers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using ::testing::StartsWith;
using Outputs = std::array<std::string, 3>;

const KorvaneChar* Text(const std::wstring& text) { return reinterpret_cast<const KorvaneChar*>(text.c_str()); }

// Text the library allocated for an export's output, taken and freed.
std::string Taken(char* text) {
  std::string value = text != nullptr ? text : "";
  if (text != nullptr) ::HeapFree(::GetProcessHeap(), 0, text);
  return value;
}

// The verdict an export hands back through call(&verdict), or "unanswered"
// when the call itself failed.
template <class Export>
std::string Verdict(Export call) {
  char* verdict = nullptr;
  const int32_t answered = call(&verdict);
  const std::string text = Taken(verdict);
  return answered == 1 ? text : "unanswered " + text;
}

std::string OnPath(int32_t (*call)(const KorvaneChar*, char**), const std::string& path) {
  return Verdict([&](char** verdict) { return call(Text(Wide(path)), verdict); });
}

std::string CheckOut(const std::string& url, const std::string& path) {
  return Verdict([&](char** verdict) { return Korvane_SvnCheckoutWait(Text(Wide(url)), Text(Wide(path)), verdict); });
}

std::string ReadText(const std::string& path) {
  std::ifstream file(fs::path(Wide(path)), std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string ForwardSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::string ShortPath(const std::string& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetShortPathNameW(Wide(path).c_str(), buffer, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : Utf8(std::wstring(buffer, length));
}

// Sends the request that does nothing; true when it is answered as done.
bool AnswersDone(RawClient& client) {
  return client.Send(MakeFrame(23, std::string("DONE") + '\0')) && client.Receive() == "The operation completed.";
}

// Starts the daemon program, found by the path the build names it (a POSIX
// path when the build ran on Linux, which Wine's drive Z: shows).
UniqueHandle StartDaemon() {
  std::string path = KORVANE_REFERENCE_DAEMON;
  if (path.starts_with("/")) path = "Z:" + path;
  std::wstring command = L"\"" + Wide(path) + L"\"";
  std::replace(command.begin(), command.end(), L'/', L'\\');
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

// The daemon with private application data folders, named to it through
// the variables it reads before the system's folders; stopped, and its
// folders removed, at the end. The local folder has a long name with a
// space, so that its parts have short names. Paths are UTF-8 with '\'
// separators.
class DaemonProgram {
 public:
  DaemonProgram() : root_(Utf8(MakeFreshFolder(L"korvane-daemon-"))) {
    fs::create_directories(Wide(Local()));
    fs::create_directories(Wide(root_ + "\\roaming\\Korvane"));
    ::SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", Wide(Local()).c_str());
    ::SetEnvironmentVariableW(L"KORVANE_APP_DATA", Wide(root_ + "\\roaming").c_str());
  }
  ~DaemonProgram() {
    if (process_ && (Korvane_StopDaemon() != 1 || !ExitWithin(30s))) ::TerminateProcess(process_.get(), 1);
    ::SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", nullptr);
    ::SetEnvironmentVariableW(L"KORVANE_APP_DATA", nullptr);
    // Subversion made the repository files read-only.
    std::error_code ignored;
    for (fs::recursive_directory_iterator walk(Wide(root_), ignored), end; walk != end; walk.increment(ignored)) {
      ::SetFileAttributesW(walk->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(Wide(root_), ignored);
  }

  // Names a team server as the hosting service, before the start: its URL,
  // the member, and the Subversion configuration folder (authorities listed
  // in its servers file, the member's password in its auth folder).
  void UseTeam(const std::string& url, const std::string& user, const std::string& subversionConfig) {
    std::ofstream(fs::path(Wide(root_ + "\\roaming\\Korvane\\daemon.conf")))
        << "service = " << url << "\nuser = " << user << "\nsubversion-config = " << subversionConfig << "\n";
  }
  void Start() { process_ = StartDaemon(); }
  // Starts it and waits until a request is answered; false when it ended.
  bool StartServing() {
    Start();
    for (const auto deadline = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < deadline;) {
      if (ExitWithin(0ms)) return false;
      try {
        RawClient client(protocol::kPipeName);
        if (AnswersDone(client)) return true;
      } catch (const std::exception&) {
      }
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  std::optional<DWORD> ExitWithin(std::chrono::milliseconds wait) {
    std::optional<DWORD> code = testing::ExitWithin(process_.get(), wait);
    if (code) process_.reset();
    return code;
  }
  HANDLE Process() const { return process_.get(); }

  const std::string& Root() const { return root_; }
  std::string Local() const { return root_ + "\\Lokale Anwendungsdaten"; }
  std::string StateFolder() const { return Local() + "\\Korvane\\state"; }
  std::string DataFolder() const { return Local() + "\\Korvane\\data"; }
  std::string Log() const { return ReadText(StateFolder() + "\\daemon.log"); }

 private:
  std::string root_;
  UniqueHandle process_;
};

std::optional<Outputs> ListSpaces() {
  char* out[3] = {};
  if (Korvane_ListSpaces(nullptr, nullptr, &out[0], &out[1], &out[2]) != 1) return std::nullopt;
  return Outputs{Taken(out[0]), Taken(out[1]), Taken(out[2])};
}

Outputs CreateSpace(const std::string& name) {
  char* out[3] = {};
  EXPECT_EQ(Korvane_CreateSpace(Text(Wide(name)), Text(L"a space"), Text(L"ann"), nullptr, &out[0], &out[1], &out[2]),
            1);
  return {Taken(out[0]), Taken(out[1]), Taken(out[2])};
}

TEST(ReferenceDaemonProgram, ServesThePipeHostsSpacesAndStopsOnRequest) {
  DaemonProgram daemon;
  ASSERT_TRUE(daemon.StartServing()) << "the daemon did not serve the pipe";
  const fs::path spaces = fs::path(Wide(daemon.DataFolder())) / L"spaces" / L"svn.halcyra.com" / L"svn";

  // A fresh hosting service has no space; one created is listed and its
  // repository lies in the private local application data folder.
  EXPECT_EQ(ListSpaces(), (Outputs{"0", "", ""}));
  const Outputs created = CreateSpace("Plans 2026");
  EXPECT_TRUE(created[0].starts_with("file:///") && created[0].ends_with("/svn.halcyra.com/svn/Plans%202026"))
      << created[0];
  EXPECT_EQ(created[1], "created");
  EXPECT_EQ(ListSpaces(), (Outputs{"1", "Plans 2026\n", ""}));
  EXPECT_TRUE(fs::is_directory(spaces / L"Plans 2026"));
  EXPECT_TRUE(fs::is_regular_file(Wide(daemon.StateFolder() + "\\daemon.log")));

  // A space named beyond ASCII is listed by the name it was given, read
  // back from its folder's wide name.
  EXPECT_EQ(CreateSpace("Pläne")[1], "created");
  EXPECT_EQ(ListSpaces(), (Outputs{"2", "Plans 2026\nPläne\n", ""}));
  EXPECT_TRUE(fs::is_directory(spaces / L"Pläne"));

  // A folder named as Windows names it is activated in one written form.
  const std::string shared = daemon.Root() + "\\Übersicht";
  fs::create_directories(Wide(shared));
  ASSERT_EQ(Korvane_ActivatePath(Text(Wide(shared)), 1), 1);
  char* list = nullptr;
  ASSERT_EQ(Korvane_GetActivations(&list), 1);
  EXPECT_NE(Taken(list).find(ForwardSlashes(shared)), std::string::npos) << ForwardSlashes(shared);

  // One daemon a session: a second start finds the pipe served and leaves.
  const UniqueHandle second = StartDaemon();
  EXPECT_EQ(ExitWithin(second.get(), 30s), std::optional<DWORD>(0));
  EXPECT_FALSE(ExitWithin(daemon.Process(), 0ms));

  EXPECT_EQ(Korvane_StopDaemon(), 1);
  EXPECT_EQ(daemon.ExitWithin(30s), std::optional<DWORD>(0));
  EXPECT_FALSE(ListSpaces()) << "nothing serves the pipe after the stop";
}

// A request at the packet limit is read whole; one past it is refused as a
// bad request, and the connection serves the next request as before.
TEST(ReferenceDaemonLimits, RequestsPastThePacketLimitAreRefused) {
  DaemonProgram daemon;
  ASSERT_TRUE(daemon.StartServing());
  const auto key = [](std::size_t frameSize) { return std::string(frameSize - 9, 'k') + '\0'; };
  const struct {
    const char* name;
    std::string frame;
    bool refused;
  } cases[] = {
      {"at the limit", MakeFrame(23, key(protocol::kMaxPacketSize)), false},
      {"one byte past it", MakeFrame(23, key(protocol::kMaxPacketSize + 1)), true},
      {"200 KiB", MakeFrame(1, key(200 * 1024)), true},
  };
  RawClient client(protocol::kPipeName);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(client.Send(c.frame));
    const std::optional<std::string> reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->starts_with("BAD_REQUEST|"), c.refused) << reply->substr(0, 80);
    EXPECT_TRUE(AnswersDone(client));
  }
}

// Each request that would write into or move the daemon's own folders is
// refused NOT_ALLOWED and writes nothing, in the spelling the running daemon
// must resolve (every spelling is the guard's own table:
// tests/daemon_platform/windows/own_folders_test.cpp); a folder beside them
// whose name starts the same way is the user's.
TEST(ReferenceDaemonLimits, OwnFoldersAreRefusedInEverySpelling) {
  DaemonProgram daemon;
  ASSERT_TRUE(daemon.StartServing());
  const std::string data = daemon.DataFolder(), state = daemon.StateFolder();
  const std::string shortData = ShortPath(data);
  ASSERT_NE(shortData, data) << "no short names on this volume";
  std::string upperData = data;
  std::transform(data.begin(), data.end(), upperData.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });

  // The user's repository to check out from, beside the daemon's folders.
  ASSERT_THAT(OnPath(Korvane_CreateRepo, daemon.Root() + "\\repos\\r"), StartsWith("0|"));
  const std::string url = "file:///" + ForwardSlashes(daemon.Root()) + "/repos/r";
  const auto dataHolds = [&] {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Wide(data))) {
      names.push_back(Utf8(entry.path().wstring()));
    }
    return names;
  };
  const std::vector<std::string> before = dataHolds();

  enum class Request { CreateRepo, CheckOut, Rename };
  const struct {
    std::string path;
    Request request;
    bool refused;
  } cases[] = {
      {ForwardSlashes(shortData) + "/spaces/evil", Request::CreateRepo, true},
      {upperData + "\\co", Request::CheckOut, true},
      {ShortPath(state) + "\\co", Request::CheckOut, true},
      {ShortPath(daemon.Local()), Request::Rename, true},
      {data + "-other\\co", Request::CheckOut, false},
      {upperData + "-OTHER\\r2", Request::CreateRepo, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string reply =
        c.request == Request::CheckOut
            ? CheckOut(url, c.path)
            : OnPath(c.request == Request::Rename ? Korvane_RenameLDir : Korvane_CreateRepo, c.path);
    EXPECT_EQ(reply.starts_with("-11|"), c.refused) << reply;
    EXPECT_EQ(reply.find("own folder") != std::string::npos, c.refused) << reply;
  }
  // Nothing was written into the data folder, and the state folder stays.
  EXPECT_EQ(dataHolds(), before);
  EXPECT_TRUE(fs::is_directory(Wide(state)));
  EXPECT_TRUE(fs::exists(Wide(data + "-other\\co\\.svn")));
}

// The pipe's name is machine-wide. A start that finds it held by a process
// that keeps this user out (another user's daemon, whose pipe admits only
// its owner; stood for here by a pipe that admits no client that writes)
// logs why in one line and ends with its own status, at once.
TEST(ReferenceDaemonLimits, APipeHeldByAnotherUserEndsTheStartWithItsOwnStatus) {
  DaemonProgram daemon;
  UniqueHandle held(::CreateNamedPipeW(Wide(protocol::kPipeName).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr));
  ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
  daemon.Start();
  EXPECT_EQ(daemon.ExitWithin(60s), std::optional<DWORD>(3));
  const std::string log = daemon.Log();
  const std::string line = "another user's process holds " + std::string(protocol::kPipeName);
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find("serving"), std::string::npos) << log;
}

// A team served over https on the loopback by scripts/team-server.sh, which
// https_team_test.sh starts; it names two Subversion configuration folders
// holding ann's password, one of which lists the team's authority. With it
// the daemon makes a space on the server, checks it out, commits into it,
// and a second checkout sees the commit; without it the server's
// certificate is refused, with how to trust it.
TEST(ReferenceDaemonOverHttps, MakesChecksOutAndCommitsWhereTheTeamsAuthorityIsListed) {
  const char* url = std::getenv("KORVANE_TEST_TEAM_URL");
  const char* trusting = std::getenv("KORVANE_TEST_TEAM_CONFIG");
  const char* untrusting = std::getenv("KORVANE_TEST_TEAM_CONFIG_NO_AUTHORITY");
  if (url == nullptr || trusting == nullptr || untrusting == nullptr) {
    GTEST_SKIP() << "needs the team server that tests/reference/windows/https_team_test.sh starts";
  }
  ASSERT_TRUE(std::string(url).starts_with("https://127.0.0.1:")) << url;
  for (const bool trusted : {false, true}) {
    SCOPED_TRACE(trusted ? "the team's authority listed" : "no authority listed");
    DaemonProgram daemon;
    daemon.UseTeam(url, "ann", trusted ? trusting : untrusting);
    ASSERT_TRUE(daemon.StartServing());
    const std::string first = daemon.Root() + "\\first", second = daemon.Root() + "\\second";
    if (!trusted) {
      const std::string refused = CheckOut(url, first);
      EXPECT_FALSE(refused.starts_with("0|")) << refused;
      EXPECT_NE(refused.find("ssl-authority-files"), std::string::npos) << refused;
      EXPECT_FALSE(fs::exists(Wide(first + "\\.svn")));
      continue;
    }
    const Outputs created = CreateSpace("plans-trusted");
    ASSERT_EQ(created[1], "created") << created[0] << created[2] << daemon.Log();
    EXPECT_EQ(created[0], std::string(url) + "/plans-trusted");
    EXPECT_EQ(ListSpaces(), (Outputs{"1", "plans-trusted\n", ""}));

    ASSERT_THAT(CheckOut(created[0], first), StartsWith("0|"));
    std::ofstream(fs::path(Wide(first + "\\today.txt")), std::ios::binary) << "written on Windows\n";
    ASSERT_THAT(OnPath(Korvane_SvnAdd, first + "\\today.txt"), StartsWith("0|"));
    ASSERT_THAT(OnPath(Korvane_SvnCommit, first), StartsWith("0|"));
    ASSERT_THAT(CheckOut(created[0], second), StartsWith("0|"));
    EXPECT_EQ(ReadText(second + "\\today.txt"), "written on Windows\n");
  }
}

}  // namespace
}  // namespace korvane::testing
