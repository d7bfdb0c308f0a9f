#include "daemon/platform/windows/tray_notifier.h"

#include "daemon/base/windows/system_text.h"

#include <algorithm>
#include <iterator>
#include <system_error>

namespace korvane::server::windows {

namespace {

constexpr wchar_t kWindowClass[] = L"KorvaneBkgProcTray";
constexpr wchar_t kTip[] = L"Korvane";
constexpr UINT kIconId = 1;
// Posted to the thread when the queue gets a balloon while empty.
constexpr UINT kShowQueued = WM_APP + 1;
// What the shell sends about clicks on the icon; they need no answer.
constexpr UINT kIconMessage = WM_APP + 2;
constexpr wchar_t kEllipsis = L'\u2026';

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// What could not be done (a folder not synced, not watched) is a warning;
// what was done for the person (both versions kept) is information.
DWORD BalloonIcon(const std::string& summary) {
  return summary.find(" cannot ") != std::string::npos ? NIIF_WARNING : NIIF_INFO;
}

template <std::size_t N>
void CopyToField(const std::wstring& text, wchar_t (&field)[N]) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), length, field);
  field[length] = L'\0';
}

// The program's own icon is its first icon group, as Explorer shows it.
BOOL CALLBACK TakeFirstIcon(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR found) {
  *reinterpret_cast<HICON*>(found) = static_cast<HICON>(LoadImageW(
      module, name, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  return FALSE;
}

}  // namespace

std::wstring FitToField(std::string_view text, std::size_t fieldSize) {
  std::wstring wide = Wide(text);
  if (fieldSize < 2) return {};
  const std::size_t room = fieldSize - 1;  // the NUL's unit
  if (wide.size() <= room) return wide;
  std::size_t keep = room - 1;  // the ellipsis's unit
  if (keep > 0 && IsHighSurrogate(wide[keep - 1])) --keep;
  wide.resize(keep);
  wide.push_back(kEllipsis);
  return wide;
}

TrayNotifier::TrayNotifier(const DaemonLog& log, TrayCall tray) : log_(log), tray_(std::move(tray)) {
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (started == nullptr) {
    absent_ = true;
    SayNoTray(SystemMessage(GetLastError()));
    return;
  }
  try {
    thread_ = std::thread([this, started] { Run(started); });
    WaitForSingleObject(started, INFINITE);
  } catch (const std::system_error& error) {
    absent_ = true;
    SayNoTray(error.what());
  }
  CloseHandle(started);
}

TrayNotifier::~TrayNotifier() {
  if (!thread_.joinable()) return;
  PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
  thread_.join();
}

void TrayNotifier::Send(const std::string& summary, const std::string& body) {
  log_.Warning("notification: " + summary + ": " + body);
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (absent_ || queue_.size() >= kMaxQueued) return;
    wake = queue_.empty();  // otherwise the thread is woken already
    queue_.emplace_back(summary, body);
  }
  if (wake && PostThreadMessageW(threadId_, kShowQueued, 0, 0) == 0) {
    std::lock_guard lock(mutex_);
    queue_.clear();
  }
}

void TrayNotifier::SayNoTray(const std::string& why) {
  {
    std::lock_guard lock(mutex_);
    if (saidNoTray_) return;
    saidNoTray_ = true;
  }
  log_.Warning("notifications go to the log only, no tray icon is shown: " + why);
}

void TrayNotifier::Run(HANDLE started) {
  threadId_ = GetCurrentThreadId();
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts to it
  const bool windowMade = MakeWindow();
  if (!windowMade) {
    SayNoTray("no window on this desktop: " + SystemMessage(GetLastError()));
    std::lock_guard lock(mutex_);
    absent_ = true;
  } else if (!AddIcon()) {
    SayNoTray("the shell refused the icon");
  }
  SetEvent(started);
  if (!windowMade) return;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == kShowQueued) {
      ShowQueued();
    } else {
      DispatchMessageW(&message);
    }
  }
  RemoveIcon();
  DestroyWindow(window_);
  if (iconOwned_) DestroyIcon(icon_);
}

bool TrayNotifier::MakeWindow() {
  const HINSTANCE program = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = OnMessage;
  windowClass.hInstance = program;
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  // Never shown; a top-level window so that the broadcast reaches it.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, kTip, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, program,
                            this);
  if (window_ == nullptr) return false;
  // Explorer runs at a lower integrity than a daemon started elevated, whose
  // windows would otherwise not hear its broadcast.
  ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
  EnumResourceNamesW(program, RT_GROUP_ICON, TakeFirstIcon, reinterpret_cast<LONG_PTR>(&icon_));
  iconOwned_ = icon_ != nullptr;
  if (icon_ == nullptr) icon_ = LoadIconW(nullptr, IDI_INFORMATION);
  return true;
}

NOTIFYICONDATAW TrayNotifier::IconData() const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window_;
  data.uID = kIconId;
  return data;
}

bool TrayNotifier::AddIcon() {
  NOTIFYICONDATAW data = IconData();
  data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  data.uCallbackMessage = kIconMessage;
  data.hIcon = icon_;
  CopyToField(kTip, data.szTip);
  iconShown_ = tray_(NIM_ADD, &data) != FALSE;
  return iconShown_;
}

void TrayNotifier::RemoveIcon() {
  if (!iconShown_) return;
  NOTIFYICONDATAW data = IconData();
  tray_(NIM_DELETE, &data);
  iconShown_ = false;
}

void TrayNotifier::ShowQueued() {
  for (;;) {
    std::pair<std::string, std::string> next;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    if (iconShown_) ShowBalloon(next.first, next.second);
  }
}

void TrayNotifier::ShowBalloon(const std::string& summary, const std::string& body) {
  NOTIFYICONDATAW data = IconData();
  data.uFlags = NIF_INFO;
  data.dwInfoFlags = BalloonIcon(summary);
  CopyToField(FitToField(summary, std::size(data.szInfoTitle)), data.szInfoTitle);
  // An empty text takes the balloon down instead of showing it.
  CopyToField(FitToField(body.empty() ? summary : body, std::size(data.szInfo)), data.szInfo);
  if (tray_(NIM_MODIFY, &data) == FALSE && AddIcon()) tray_(NIM_MODIFY, &data);
}

LRESULT CALLBACK TrayNotifier::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<TrayNotifier*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr && self->taskbarCreated_ != 0 && message == self->taskbarCreated_) {
    // A new taskbar starts without our icon.
    if (!self->AddIcon()) self->SayNoTray("the restarted shell refused the icon");
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace korvane::server::windows

namespace korvane::server {

std::unique_ptr<Notifier> MakeDesktopNotifier(const DaemonLog& log) {
  return std::make_unique<windows::TrayNotifier>(log);
}

}  // namespace korvane::server
