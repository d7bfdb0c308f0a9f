// Kernel objects behind the HANDLEs of the POSIX implementation: a handle is
// the address of one of these, and CloseHandle destroys it.
#pragma once

#include "win32_types.h"

#include <condition_variable>
#include <mutex>

namespace korvane::posix {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// Returns the object behind a handle if it is of type T, else null.
template <typename T>
T* ObjectFromHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<T*>(static_cast<KernelObject*>(handle));
}

// An overlapped operation that completes when a wait on its event asks for it:
// the POSIX stand-in has no kernel to complete I/O in the background.
class OverlappedOperation {
 public:
  virtual ~OverlappedOperation() = default;
  // Waits up to the time limit for the operation to complete and completes
  // it. Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
  virtual DWORD WaitForCompletion(DWORD milliseconds) = 0;
  // The event goes away before the operation does.
  virtual void ForgetEvent() = 0;
};

class EventObject final : public KernelObject {
 public:
  EventObject(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}
  ~EventObject() override;

  void Set();
  void Reset();
  DWORD Wait(DWORD milliseconds);

  // Ties the event to an overlapped operation, which signals it on completion.
  void AttachOperation(OverlappedOperation* operation);
  void DetachOperation(OverlappedOperation* operation);

 private:
  DWORD WaitForSignal(DWORD milliseconds);

  std::mutex mutex_;
  std::condition_variable changed_;
  bool manualReset_;
  bool signalled_;
  OverlappedOperation* operation_ = nullptr;
};

}  // namespace korvane::posix
