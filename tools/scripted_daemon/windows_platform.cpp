// The scripted daemon's platform on Windows: the pipe is a named pipe,
// the start lock a named mutex that lives as long as a daemon holding it,
// and the stop an event.
#include "scripted_platform.h"

#include "platform/windows_api.h"
#include "support/windows/windows_helpers.h"

#include <cstdlib>

namespace korvane::test_daemon {
namespace {

using testing::Wide;

// Whether a live server answers at the pipe. A connection that got through
// is closed at once: the server sees a connection close without frames.
bool Served(const std::wstring& pipeName) {
  const HANDLE probe =
      ::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    return true;
  }
  return ::GetLastError() == ERROR_PIPE_BUSY;
}

// A mutex named after the pipe in this session's namespace. Its handle stays
// open until the process ends, and with it the name; only its existence
// matters, so no thread owns it.
bool TakeStartLock(const std::wstring& pipeName) {
  std::wstring name = L"Local\\KorvaneBkgProc-" + pipeName;
  for (std::size_t i = name.find(L'\\') + 1; i < name.size(); ++i) {
    if (name[i] == L'\\') name[i] = L'/';  // a backslash would name a namespace
  }
  const HANDLE lock = ::CreateMutexW(nullptr, FALSE, name.c_str());
  if (lock == nullptr) return true;  // no lock to be had; serving tells whether the name is usable
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return true;
  ::CloseHandle(lock);
  return false;
}

HANDLE stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD control) {
  if (control == CTRL_C_EVENT || control == CTRL_BREAK_EVENT || control == CTRL_CLOSE_EVENT) {
    ::SetEvent(stopEvent);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

std::optional<std::filesystem::path> PathFromEnvironment(const char* variable) {
  const wchar_t* value = ::_wgetenv(Wide(variable).c_str());
  if (value == nullptr || *value == L'\0') return std::nullopt;
  return std::filesystem::path(value);
}

LogFile::LogFile(const std::optional<std::filesystem::path>& path)
    : handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
  if (!path) return;
  // Append-only access makes every write go to the end as one piece. The
  // test reads the log meanwhile, and removes its folder at the end.
  handle_ = reinterpret_cast<std::intptr_t>(::CreateFileW(path->c_str(), FILE_APPEND_DATA,
                                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

LogFile::~LogFile() {
  if (handle_ != reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void LogFile::Append(const std::string& line) const {
  if (handle_ == reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) return;
  DWORD written = 0;
  ::WriteFile(reinterpret_cast<HANDLE>(handle_), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool ClaimPipe(const std::string& pipeName) {
  const std::wstring name = Wide(pipeName);
  return !Served(name) && TakeStartLock(name);
}

StopSignal::StopSignal() {
  stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

StopSignal::~StopSignal() {
  ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  ::CloseHandle(stopEvent);
}

void StopSignal::Raise() const { ::SetEvent(stopEvent); }

void StopSignal::Wait() const { ::WaitForSingleObject(stopEvent, INFINITE); }

}  // namespace korvane::test_daemon
