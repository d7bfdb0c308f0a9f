// Notifications on the desktop: each one goes to the daemon's log, which the
// job board's readers and a person can see, and where a desktop runs it is
// also shown as a balloon of the daemon's icon in the notification area (the
// tray).
//
// A thread of the notifier's own owns a hidden window and the icon; Send only
// queues for it and never waits. The window is a top-level one that is never
// shown, not a message-only one: Explorer tells a restart by broadcasting
// "TaskbarCreated", and broadcasts never reach message-only windows. When
// Explorer comes back the thread adds the icon again.
//
// Without a desktop (no window station, no window, or the shell refuses the
// icon) the log says so once and notifications go to the log alone.
#pragma once

#include "daemon/base/daemon_log.h"
#include "daemon/platform/notifier.h"

#include <windows.h>

#include <shellapi.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace korvane::server::windows {

// Shell_NotifyIconW's shape: tests put a recorder around the shell's call.
using TrayCall = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;

// The text as it fits a NUL-terminated field of fieldSize UTF-16 units: cut
// to fit, ending with an ellipsis, and never between the halves of a
// surrogate pair.
std::wstring FitToField(std::string_view text, std::size_t fieldSize);

class TrayNotifier final : public Notifier {
 public:
  // Returns once the thread has its window and has tried to add the icon.
  explicit TrayNotifier(const DaemonLog& log, TrayCall tray = Shell_NotifyIconW);
  // Removes the icon and ends the thread; balloons still queued are dropped
  // (the log has them).
  ~TrayNotifier() override;
  TrayNotifier(const TrayNotifier&) = delete;
  TrayNotifier& operator=(const TrayNotifier&) = delete;

  // Balloons waiting beyond this are dropped: a hung shell cannot make the
  // queue grow.
  static constexpr std::size_t kMaxQueued = 64;

 protected:
  void Send(const std::string& summary, const std::string& body) override;

 private:
  // The thread's own.
  void Run(HANDLE started);
  bool MakeWindow();
  bool AddIcon();
  void RemoveIcon();
  void ShowQueued();
  void ShowBalloon(const std::string& summary, const std::string& body);
  NOTIFYICONDATAW IconData() const;
  static LRESULT CALLBACK OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void SayNoTray(const std::string& why);

  const DaemonLog& log_;
  const TrayCall tray_;

  std::mutex mutex_;
  std::deque<std::pair<std::string, std::string>> queue_;
  bool absent_ = false;     // no window: nothing is queued
  bool saidNoTray_ = false;  // the log has said it once

  std::thread thread_;
  DWORD threadId_ = 0;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  bool iconOwned_ = false;  // loaded from the program, destroyed with the notifier
  bool iconShown_ = false;
  UINT taskbarCreated_ = 0;
};

}  // namespace korvane::server::windows
