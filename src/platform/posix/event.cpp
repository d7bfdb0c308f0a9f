// Events and waits: a manual- or auto-reset event, optionally tied to the
// overlapped pipe operation that signals it.
#include "errno_to_win32.h"
#include "kernel_object.h"
#include "win32_calls.h"

#include <chrono>

namespace korvane::posix {

EventObject::~EventObject() {
  if (operation_ != nullptr) operation_->ForgetEvent();
}

void EventObject::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void EventObject::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

void EventObject::AttachOperation(OverlappedOperation* operation) { operation_ = operation; }

void EventObject::DetachOperation(OverlappedOperation* operation) {
  if (operation_ == operation) operation_ = nullptr;
}

DWORD EventObject::Wait(DWORD milliseconds) {
  {
    std::lock_guard lock(mutex_);
    if (signalled_) {
      if (!manualReset_) signalled_ = false;
      return WAIT_OBJECT_0;
    }
  }
  if (operation_ != nullptr) {
    DWORD result = operation_->WaitForCompletion(milliseconds);
    if (result == WAIT_OBJECT_0 && !manualReset_) Reset();
    return result;
  }
  return WaitForSignal(milliseconds);
}

DWORD EventObject::WaitForSignal(DWORD milliseconds) {
  std::unique_lock lock(mutex_);
  auto isSignalled = [this] { return signalled_; };
  if (milliseconds == INFINITE) {
    changed_.wait(lock, isSignalled);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled)) {
    return WAIT_TIMEOUT;
  }
  if (!manualReset_) signalled_ = false;
  return WAIT_OBJECT_0;
}

}  // namespace korvane::posix

using korvane::posix::EventObject;
using korvane::posix::ObjectFromHandle;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (name != nullptr) {  // Named events are not part of the subset.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto* event = new (std::nothrow) EventObject(manualReset != FALSE, initialState != FALSE);
  if (event == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return event;
}

BOOL SetEvent(HANDLE handle) {
  auto* event = ObjectFromHandle<EventObject>(handle);
  if (event == nullptr) return korvane::posix::Fail(ERROR_INVALID_HANDLE);
  event->Set();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto* event = ObjectFromHandle<EventObject>(handle);
  if (event == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return event->Wait(milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return korvane::posix::Fail(ERROR_INVALID_HANDLE);
  delete static_cast<korvane::posix::KernelObject*>(handle);
  return TRUE;
}
