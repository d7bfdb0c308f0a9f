#include "daemon/platform/wake_up.h"

#include "daemon/base/windows/system_text.h"

#include <algorithm>
#include <system_error>

namespace korvane::server {

namespace {

HANDLE Event(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

// A manual-reset event: it stays set until Take, however many waiters look
// at it, as an eventfd stays readable.
WakeUp::WakeUp() {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEvent");
  handle_ = reinterpret_cast<NativeHandle>(event);
}

WakeUp::~WakeUp() { CloseHandle(Event(handle_)); }

void WakeUp::Raise() {
  raised_.fetch_add(1);
  SetEvent(Event(handle_));
}

// Reset before counting: a Raise after the reset sets the event again, so
// none is lost (at worst one more wake finds nothing).
std::uint64_t WakeUp::Take() {
  ResetEvent(Event(handle_));
  return raised_.exchange(0);
}

bool WaitReady(NativeHandle watched, const WakeUp& wakeUp, std::chrono::milliseconds limit, bool& watchedReady,
               std::string& problem) {
  HANDLE handles[2];
  DWORD count = 0;
  if (watched != kNoHandle) handles[count++] = Event(watched);
  handles[count++] = Event(wakeUp.Handle());
  const DWORD milliseconds = static_cast<DWORD>(std::max<long long>(limit.count(), 0));
  if (WaitForMultipleObjects(count, handles, FALSE, milliseconds) == WAIT_FAILED) {
    problem = windows::SystemMessage(GetLastError());
    return false;
  }
  watchedReady = watched != kNoHandle && WaitForSingleObject(Event(watched), 0) == WAIT_OBJECT_0;
  return true;
}

}  // namespace korvane::server
