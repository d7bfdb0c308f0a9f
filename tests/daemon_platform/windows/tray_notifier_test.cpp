// The tray notifier with a recorder in place of the shell's tray call (or
// around it): the balloons' texts and kinds, the icon's life, the log when no
// tray can be shown, callers that never wait for the shell, and threads that
// end with the notifier.
#include "daemon/platform/windows/tray_notifier.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <vector>

namespace korvane::server::windows {
namespace {

// Only a guard against a hang: every wait below ends as soon as the awaited
// call is made.
constexpr std::chrono::seconds kHangGuard{60};

struct Call {
  DWORD message;
  UINT fields;
  DWORD balloonIcon;
  std::wstring title;
  std::wstring text;
  std::wstring tip;
  bool withIcon;
  BOOL answer;
};

// Records each tray call and answers it through answer (the shell's call,
// or a stand-in's).
class TrayRecorder {
 public:
  explicit TrayRecorder(TrayCall answer) : answer_(std::move(answer)) {}

  TrayCall Tray() {
    return [this](DWORD message, NOTIFYICONDATAW* data) {
      const BOOL answer = answer_(message, data);
      std::lock_guard lock(mutex_);
      calls_.push_back({message, data->uFlags, data->dwInfoFlags, data->szInfoTitle, data->szInfo, data->szTip,
                        data->hIcon != nullptr, answer});
      made_.notify_all();
      return answer;
    };
  }
  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::size_t Count(DWORD message) {
    std::lock_guard lock(mutex_);
    return CountLocked(message);
  }
  bool WaitFor(DWORD message, std::size_t count) {
    std::unique_lock lock(mutex_);
    return made_.wait_for(lock, kHangGuard, [&] { return CountLocked(message) >= count; });
  }

 private:
  std::size_t CountLocked(DWORD message) const {
    return static_cast<std::size_t>(
        std::count_if(calls_.begin(), calls_.end(), [&](const Call& call) { return call.message == message; }));
  }

  TrayCall answer_;
  std::mutex mutex_;
  std::condition_variable made_;
  std::vector<Call> calls_;
};

BOOL Shown(DWORD, NOTIFYICONDATAW*) { return TRUE; }
BOOL Refused(DWORD, NOTIFYICONDATAW*) { return FALSE; }

// A log in a scratch folder, and how often it says something.
struct ScratchLog {
  std::size_t Count(const std::string& part) const {
    const std::string text = testing::ReadFile(scratch / "daemon.log");
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }
  testing::ScratchFolder scratch;
  const DaemonLog log{scratch / "daemon.log"};
};

std::size_t ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

const std::string kSmile = "\xf0\x9f\x98\x80";  // U+1F600, a surrogate pair in UTF-16
const std::wstring kSmileWide = L"\xd83d\xde00";

TEST(TrayNotifier, ShowsEachNotificationAsABalloonOfItsIcon) {
  struct Case {
    std::string summary, body;
    std::wstring title, text;
    DWORD balloonIcon;
  };
  const std::vector<Case> cases = {
      {"Korvane kept both versions", "conflict on r\xc3\xa9sum\xc3\xa9.txt", L"Korvane kept both versions",
       L"conflict on r\u00e9sum\u00e9.txt", NIIF_INFO},
      {"Korvane cannot sync C:\\site", "The server refused the credential", L"Korvane cannot sync C:\\site",
       L"The server refused the credential", NIIF_WARNING},
      // The title holds 63 units and its NUL; the text 255.
      {std::string(63, 't'), std::string(255, 'b'), std::wstring(63, L't'), std::wstring(255, L'b'), NIIF_INFO},
      {std::string(64, 't'), std::string(256, 'b'), std::wstring(62, L't') + L"\u2026",
       std::wstring(254, L'b') + L"\u2026", NIIF_INFO},
      // A pair that would straddle the cut goes whole.
      {std::string(61, 't') + kSmile + "t", std::string(253, 'b') + kSmile + "b", std::wstring(61, L't') + L"\u2026",
       std::wstring(253, L'b') + L"\u2026", NIIF_INFO},
      {std::string(60, 't') + kSmile + "tt", std::string(252, 'b') + kSmile + "bb",
       std::wstring(60, L't') + kSmileWide + L"\u2026", std::wstring(252, L'b') + kSmileWide + L"\u2026", NIIF_INFO},
      {"bad \xff byte", "", L"bad \ufffd byte", L"bad \ufffd byte", NIIF_INFO},  // an empty text shows the title
  };
  ScratchLog logged;
  TrayRecorder tray(Shown);
  {
    TrayNotifier notifier(logged.log, tray.Tray());
    for (const Case& each : cases) notifier.Notify(each.summary, each.body);
    ASSERT_TRUE(tray.WaitFor(NIM_MODIFY, cases.size()));
  }
  const std::vector<Call> calls = tray.Calls();
  ASSERT_EQ(calls.size(), cases.size() + 2);
  EXPECT_EQ(calls.front().message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(calls.front().tip, L"Korvane");
  EXPECT_TRUE(calls.front().withIcon);
  for (std::size_t index = 0; index < cases.size(); ++index) {
    const Call& call = calls[index + 1];
    SCOPED_TRACE(cases[index].summary);
    EXPECT_EQ(call.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(call.fields, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(call.balloonIcon, cases[index].balloonIcon);
    EXPECT_EQ(call.title, cases[index].title);
    EXPECT_EQ(call.text, cases[index].text);
  }
  EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(logged.Count(" warning: notification: "), cases.size());
  EXPECT_EQ(logged.Count("no tray icon"), 0U);
}

TEST(TrayNotifier, AddsTheIconAgainWhenTheTaskbarComesBack) {
  ScratchLog logged;
  TrayRecorder tray(Shown);
  TrayNotifier notifier(logged.log, tray.Tray());
  ASSERT_EQ(tray.Count(NIM_ADD), 1U);
  // As Explorer tells every top-level window when it starts again.
  ASSERT_TRUE(PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0));
  ASSERT_TRUE(tray.WaitFor(NIM_ADD, 2));
  notifier.Notify("Korvane kept both versions", "after the restart");
  ASSERT_TRUE(tray.WaitFor(NIM_MODIFY, 1));
  EXPECT_EQ(tray.Calls().back().text, L"after the restart");
}

TEST(TrayNotifier, WithoutATrayEveryNotificationStillReachesTheLog) {
  ScratchLog logged;
  TrayRecorder tray(Refused);
  {
    TrayNotifier notifier(logged.log, tray.Tray());
    notifier.Notify("Korvane kept both versions", "conflict on a.txt");
    notifier.Notify("Korvane cannot watch every folder", "the limit is reached");
    notifier.Notify("Korvane kept both versions", "conflict on b.txt");
  }
  // The refused icon is neither given balloons nor removed.
  const std::vector<Call> calls = tray.Calls();
  ASSERT_EQ(calls.size(), 1U);
  EXPECT_EQ(calls.front().message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(logged.Count("no tray icon is shown: the shell refused the icon"), 1U);
  EXPECT_EQ(logged.Count(" warning: notification: "), 3U);
  EXPECT_EQ(logged.Count("notification: Korvane cannot watch every folder: the limit is reached\n"), 1U);
}

TEST(TrayNotifier, CallersNeverWaitForAHungShell) {
  ScratchLog logged;
  HANDLE shellAnswers = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TrayRecorder tray([shellAnswers](DWORD message, NOTIFYICONDATAW*) {
    if (message == NIM_MODIFY) WaitForSingleObject(shellAnswers, INFINITE);
    return TRUE;
  });
  constexpr int kThreads = 8;
  constexpr int kEach = 50;
  {
    TrayNotifier notifier(logged.log, tray.Tray());
    std::vector<std::future<void>> callers;
    for (int thread = 0; thread < kThreads; ++thread) {
      callers.push_back(std::async(std::launch::async, [&notifier, thread] {
        for (int each = 0; each < kEach; ++each) {
          const std::string body = "caller " + std::to_string(thread) + " #" + std::to_string(each);
          notifier.Notify("Korvane kept both versions", body);
        }
      }));
    }
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    bool allReturned = true;
    for (auto& caller : callers) allReturned = caller.wait_until(deadline) == std::future_status::ready && allReturned;
    EXPECT_TRUE(allReturned) << "a caller waited for the shell";
    EXPECT_LE(tray.Count(NIM_MODIFY), 1U);  // the shell has answered nothing yet
    SetEvent(shellAnswers);
    for (auto& caller : callers) caller.wait();
  }
  CloseHandle(shellAnswers);
  // The queue held at most its bound beside the balloon the shell held up.
  EXPECT_GE(tray.Count(NIM_MODIFY), 1U);
  EXPECT_LE(tray.Count(NIM_MODIFY), TrayNotifier::kMaxQueued + 1);
  EXPECT_EQ(logged.Count(" warning: notification: "), static_cast<std::size_t>(kThreads * kEach));
}

TEST(TrayNotifier, MadeAndDestroyedManyTimesLeavesNoThread) {
  ScratchLog logged;
  { TrayNotifier first(logged.log); }  // the system's own threads for windows and the shell start once
  const std::size_t before = ThreadsOfThisProcess();
  ASSERT_GT(before, 0U);
  TrayRecorder refused(Refused);
  for (int round = 0; round < 40; ++round) {
    TrayNotifier notifier(logged.log, round % 2 == 0 ? TrayCall(Shell_NotifyIconW) : refused.Tray());
    notifier.Notify("Korvane kept both versions", "round " + std::to_string(round));
  }
  EXPECT_EQ(ThreadsOfThisProcess(), before);
  EXPECT_EQ(refused.Count(NIM_ADD), 20U);
  EXPECT_EQ(logged.Count(" warning: notification: "), 40U);
}

// The shell of the system the tests run on, with the recorder around it.
// Headless Wine has no tray; on a desktop (KORVANE_EXPECT_TRAY set) there
// must be one.
TEST(TrayNotifier, TheSystemShellTakesTheIconAndTheBalloon) {
  const bool trayExpected = GetEnvironmentVariableW(L"KORVANE_EXPECT_TRAY", nullptr, 0) > 0;
  ScratchLog logged;
  TrayRecorder tray(Shell_NotifyIconW);
  {
    TrayNotifier notifier(logged.log, tray.Tray());
    ASSERT_EQ(tray.Count(NIM_ADD), 1U);
    if (!tray.Calls().front().answer) {
      EXPECT_EQ(logged.Count("no tray icon is shown"), 1U);
      ASSERT_FALSE(trayExpected) << "the desktop's shell refused the icon";
      GTEST_SKIP() << "this desktop shows no tray";
    }
    notifier.Notify("Korvane kept both versions", "conflict on " + kSmile + ".txt");
    ASSERT_TRUE(tray.WaitFor(NIM_MODIFY, 1));
  }
  const std::vector<Call> calls = tray.Calls();
  ASSERT_EQ(calls.size(), 3U);
  EXPECT_EQ(calls[1].title, L"Korvane kept both versions");
  EXPECT_EQ(calls[1].text, L"conflict on " + kSmileWide + L".txt");
  EXPECT_TRUE(calls[1].answer) << "the shell refused the balloon";
  EXPECT_EQ(calls[2].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_TRUE(calls[2].answer) << "the shell kept the icon";
}

}  // namespace
}  // namespace korvane::server::windows
