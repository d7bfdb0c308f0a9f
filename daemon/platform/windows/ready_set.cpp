// The event loop's wait on Windows: one I/O completion port.
//
// The pipe's instances (the listener's and every connection's) are tied to
// the port when their end is added; each has at most one read and one write
// in flight, and a connection always has a read posted or a whole message
// waiting. A completion packet only says "something finished": every wait
// asks each end added what it is ready for, taking in the results of
// finished I/O as it does (a message read, through ERROR_MORE_DATA when it
// is longer than one read; a client connected; a write done; a client
// gone). Readiness is thus a level, as epoll's is, and a packet that
// arrives after its result was taken, or for an end closed since, costs
// nothing.
//
// Any other handle (a wake-up's event, the stop event, the work runner's
// ready handle) is waited on by the thread pool (RegisterWaitForSingleObject,
// once), whose callback posts a packet under the handle's own key. The
// handle is then reported until a wait finds it no longer signalled, and
// only then waited on again: such a handle must keep its state under a wait
// (a manual-reset event, a process), as the daemon's wake-ups do.
#include "daemon/platform/ready_set.h"

#include "daemon/platform/windows/pipe_instance.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <system_error>

namespace korvane::server {

namespace {

struct Entry {
  std::uint64_t id = 0;
  std::uint32_t events = 0;
  std::weak_ptr<windows::PipeEnd> pipe;  // a pipe's end, or else:
  HANDLE object = nullptr;               // a handle the thread pool waits on
  HANDLE port = nullptr;
  ULONG_PTR key = 0;
  HANDLE wait = nullptr;   // the pool's wait, while one is registered
  bool signalled = false;  // found signalled, and reported until it is not

  bool IsPipe() const { return object == nullptr; }
  bool Gone() const { return IsPipe() && (pipe.expired() || pipe.lock()->Closed()); }
};

void CALLBACK Signalled(PVOID context, BOOLEAN) {
  const Entry* entry = static_cast<const Entry*>(context);
  ::PostQueuedCompletionStatus(entry->port, 0, entry->key, nullptr);
}

bool WaitFor(Entry& entry) {
  return ::RegisterWaitForSingleObject(&entry.wait, entry.object, Signalled, &entry, INFINITE,
                                       WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD) != FALSE;
}

void StopWaiting(Entry& entry) {
  if (entry.wait == nullptr) return;
  ::UnregisterWaitEx(entry.wait, INVALID_HANDLE_VALUE);  // the callback has returned after this
  entry.wait = nullptr;
}

}  // namespace

// The set's state, behind the one member the shared header gives it.
struct PortWaiter {
  HANDLE port = nullptr;
  ULONG_PTR nextKey = windows::kPipeIoKey + 1;
  std::map<NativeHandle, std::unique_ptr<Entry>> entries;
  std::map<ULONG_PTR, Entry*> byKey;

  void Erase(std::map<NativeHandle, std::unique_ptr<Entry>>::iterator found) {
    StopWaiting(*found->second);
    byKey.erase(found->second->key);
    entries.erase(found);
  }

  // A handle reported before is waited on again once it is no longer
  // signalled.
  void Rearm() {
    for (auto& [handle, entry] : entries) {
      if (entry->IsPipe() || !entry->signalled) continue;
      if (::WaitForSingleObject(entry->object, 0) == WAIT_OBJECT_0) continue;
      entry->signalled = false;
      if (!WaitFor(*entry)) entry->signalled = true;  // reported rather than lost
    }
  }

  // Takes every packet queued, waiting up to waitMs for the first; false
  // when the port failed.
  bool Drain(DWORD waitMs, std::string& problem) {
    OVERLAPPED_ENTRY packets[64];
    for (;;) {
      ULONG count = 0;
      if (!::GetQueuedCompletionStatusEx(port, packets, 64, &count, waitMs, FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == WAIT_TIMEOUT) return true;
        problem = "waiting on the completion port failed: error " + std::to_string(error);
        return false;
      }
      for (ULONG i = 0; i < count; ++i) {
        const auto found = byKey.find(packets[i].lpCompletionKey);
        if (found == byKey.end()) continue;  // pipe I/O, or a handle removed since
        StopWaiting(*found->second);
        found->second->signalled = true;
      }
      if (count < 64) return true;
      waitMs = 0;
    }
  }

  int Collect(ReadyHandle* ready, int capacity) {
    int count = 0;
    for (auto it = entries.begin(); it != entries.end() && count < capacity;) {
      Entry& entry = *it->second;
      if (entry.Gone()) {
        it = entries.erase(it);  // a connection closed: it left the set with it
        continue;
      }
      const std::uint32_t state =
          entry.IsPipe() ? entry.pipe.lock()->Poll() : (entry.signalled ? std::uint32_t{kReadable} : 0u);
      if (const std::uint32_t events = state & (entry.events | kHungUp | kFailed)) ready[count++] = {entry.id, events};
      ++it;
    }
    return count;
  }
};

namespace {

PortWaiter& Waiter(NativeHandle handle) { return *reinterpret_cast<PortWaiter*>(handle); }

}  // namespace

ReadySet::ReadySet() {
  auto waiter = std::make_unique<PortWaiter>();
  waiter->port = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (waiter->port == nullptr) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateIoCompletionPort");
  }
  handle_ = reinterpret_cast<NativeHandle>(waiter.release());
}

ReadySet::~ReadySet() {
  PortWaiter* waiter = &Waiter(handle_);
  for (auto& [handle, entry] : waiter->entries) StopWaiting(*entry);
  ::CloseHandle(waiter->port);
  delete waiter;
}

bool ReadySet::Add(NativeHandle handle, std::uint64_t id, std::uint32_t events) {
  PortWaiter& waiter = Waiter(handle_);
  if (const auto found = waiter.entries.find(handle); found != waiter.entries.end()) {
    if (!found->second->Gone()) return false;
    waiter.Erase(found);  // a closed connection's handle, given to another since
  }
  auto entry = std::make_unique<Entry>();
  entry->id = id;
  entry->events = events;
  if (const std::shared_ptr<windows::PipeEnd> pipe = windows::FindPipeEnd(handle)) {
    if (!pipe->Bind(waiter.port)) return false;
    entry->pipe = pipe;
  } else {
    entry->object = reinterpret_cast<HANDLE>(handle);
    entry->port = waiter.port;
    entry->key = waiter.nextKey++;
    if (!WaitFor(*entry)) return false;
    waiter.byKey[entry->key] = entry.get();
  }
  waiter.entries[handle] = std::move(entry);
  return true;
}

void ReadySet::AddOrThrow(NativeHandle handle, std::uint64_t id, std::uint32_t events) {
  if (!Add(handle, id, events)) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "cannot wait on a handle");
  }
}

bool ReadySet::Change(NativeHandle handle, std::uint64_t id, std::uint32_t events) {
  PortWaiter& waiter = Waiter(handle_);
  const auto found = waiter.entries.find(handle);
  if (found == waiter.entries.end() || found->second->Gone()) return false;
  found->second->id = id;
  found->second->events = events;
  return true;
}

void ReadySet::Remove(NativeHandle handle) {
  PortWaiter& waiter = Waiter(handle_);
  if (const auto found = waiter.entries.find(handle); found != waiter.entries.end()) waiter.Erase(found);
}

int ReadySet::Wait(ReadyHandle* ready, int capacity, int limitMs, std::string& problem) {
  PortWaiter& waiter = Waiter(handle_);
  waiter.Rearm();
  if (!waiter.Drain(0, problem)) return -1;
  int count = waiter.Collect(ready, capacity);
  if (count > 0 || limitMs == 0) return count;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(limitMs, 0));
  for (;;) {
    DWORD waitMs = INFINITE;
    if (limitMs > 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return 0;
      waitMs = static_cast<DWORD>(left);
    }
    if (!waiter.Drain(waitMs, problem)) return -1;
    count = waiter.Collect(ready, capacity);
    // A packet of I/O whose result was taken already wakes the wait for
    // nothing: it goes on.
    if (count > 0) return count;
  }
}

}  // namespace korvane::server
