#include "daemon/platform/stop_signals.h"

#include "daemon/base/environment.h"
#include "daemon/base/windows/system_text.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace korvane::server {

namespace {

// How long the system is held when the session ends or the console closes,
// for the loop to stop: returning lets the system end the process at once.
// The daemon's stop grace, which tests shorten.
constexpr long kStopGraceMs = 5000;

// What asks the daemon to stop arrives on threads of the system's (a console
// handler) or of a window's own; it lands here, where the loop takes it.
struct StopRequest {
  HANDLE requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // the loop waits on it
  HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);   // set once the loop let go
  std::atomic<const char*> reason{nullptr};
  std::thread window;  // runs the session window's message loop
  DWORD windowThread = 0;

  void Raise(const char* why) {
    const char* none = nullptr;
    reason.compare_exchange_strong(none, why);
    SetEvent(requested);
  }
  // Holds the system's thread until the loop has stopped, at most the grace.
  void HoldSystem() const {
    WaitForSingleObject(released, static_cast<DWORD>(NumberFromEnvironment("KORVANE_STOP_GRACE_MS", kStopGraceMs)));
  }
};

// Never destroyed: a console handler may still run while the process ends.
StopRequest& Request() {
  static StopRequest& request = *new StopRequest;
  return request;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      Request().Raise("Ctrl+C");
      return TRUE;
    case CTRL_BREAK_EVENT:
      Request().Raise("Ctrl+Break");
      return TRUE;
    case CTRL_CLOSE_EVENT:
      Request().Raise("console closed");
      Request().HoldSystem();
      return TRUE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Request().Raise("session ending");
      Request().HoldSystem();
      return TRUE;
    default:
      return FALSE;
  }
}

constexpr wchar_t kWindowClass[] = L"KorvaneBkgProcSession";

// A program without a console hears that the session ends only as a
// top-level window: WM_QUERYENDSESSION is agreed to, WM_ENDSESSION stops.
LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) {
        Request().Raise("session ending");
        Request().HoldSystem();
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

void SetUpSignals() {
  Request();  // made before any thread may race to make it
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// The window lives on a thread of its own, which runs its message loop until
// the destructor posts WM_QUIT to it.
StopSignals::StopSignals() {
  StopRequest& request = Request();
  if (request.requested == nullptr || request.released == nullptr) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEvent");
  }
  ResetEvent(request.released);
  handle_ = reinterpret_cast<NativeHandle>(request.requested);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  request.window = std::thread([&request, ready] {
    request.windowThread = GetCurrentThreadId();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OnSessionMessage;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, kWindowClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before the destructor posts
    SetEvent(ready);
    while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    if (window != nullptr) DestroyWindow(window);
  });
  WaitForSingleObject(ready, INFINITE);
  CloseHandle(ready);
}

StopSignals::~StopSignals() {
  StopRequest& request = Request();
  SetEvent(request.released);
  PostThreadMessageW(request.windowThread, WM_QUIT, 0, 0);
  if (request.window.joinable()) request.window.join();
}

std::optional<std::string> StopSignals::Take() {
  StopRequest& request = Request();
  if (WaitForSingleObject(request.requested, 0) != WAIT_OBJECT_0) return std::nullopt;
  ResetEvent(request.requested);
  const char* reason = request.reason.exchange(nullptr);
  return reason != nullptr ? reason : "stop";
}

}  // namespace korvane::server
