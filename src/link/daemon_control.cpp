// Starting and stopping the daemon. The library keeps nothing about the
// daemon process: whether one runs is learnt only by opening the pipe.
#include "link/daemon_link.h"

#include "protocol/frame.h"
#include "platform/executable_suffix.h"
#include "runtime/debug_trace.h"

#include <new>
#include <vector>

namespace korvane::link {

namespace {
constexpr char16_t kDaemonFileName[] = u"KorvaneBkgProc" KORVANE_EXECUTABLE_SUFFIX;
constexpr DWORD kModulePathCapacity = 32768;
constexpr DWORD kStopReplyCapacity = 8192;
constexpr DWORD kStopTimeLimitMs = 20000;
}  // namespace

std::u16string CDaemonLink::GetDaemonPath() {
  try {
    std::vector<WCHAR> path(kModulePathCapacity, 0);
    if (calls_.GetModuleFileNameW(module_, path.data(), kModulePathCapacity) == 0) return {};
    if (!PathRemoveFileSpecW(path.data())) return {};
    if (!PathAppendW(path.data(), reinterpret_cast<LPCWSTR>(kDaemonFileName))) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(path.data()));
  } catch (const std::bad_alloc&) {
    return {};
  }
}

bool CDaemonLink::LaunchProcess(const std::u16string& application, LPWSTR commandLine, LPCWSTR currentDirectory) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!calls_.CreateProcessW(reinterpret_cast<LPCWSTR>(application.c_str()), commandLine, nullptr, nullptr, FALSE, 0,
                             nullptr, currentDirectory, &startup, &process)) {
    return false;
  }
  calls_.CloseHandle(process.hThread);
  calls_.CloseHandle(process.hProcess);
  return true;
}

bool CDaemonLink::StartDaemon() {
  if (LaunchProcess(GetDaemonPath(), nullptr, nullptr)) return true;
  KORVANE_TRACE("CDaemonLink::StartDaemon: Failed to start daemon\n");
  return false;
}

// The notification channel is the probe: without it no daemon is reachable
// and the 20 s stop request is never tried. It stays open until the link is
// destroyed, which then sends the close frame on it.
bool CDaemonLink::StopDaemon() {
  {
    runtime::AprLock lock(lock_);
    if (!InternalEnsurePipeOpen(notify_)) return false;
  }
  std::optional<std::string> request;
  std::vector<char> reply;
  try {
    request = protocol::BuildRequestFrame(Command::StopDaemon, std::nullopt);
    reply.assign(kStopReplyCapacity, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  DWORD read = 0;
  if (calls_.CallNamedPipeA(kPipeName, request->data(), static_cast<DWORD>(request->size()), reply.data(),
                            kStopReplyCapacity, &read, kStopTimeLimitMs)) {
    return true;
  }
  // A daemon going down may break the connection instead of answering.
  return calls_.GetLastError() == ERROR_BROKEN_PIPE;
}

}  // namespace korvane::link
