#pragma once

#include "daemon/platform/native_handle.h"

#include <cstdint>
#include <string>

namespace korvane::server {

// What a handle is watched for and reported ready for. A hang-up and a
// failure are reported whatever it is watched for, even nothing.
enum Readiness : std::uint32_t {
  kReadable = 1u << 0,
  kWritable = 1u << 1,
  kHungUp = 1u << 2,
  kFailed = 1u << 3,
};

struct ReadyHandle {
  std::uint64_t id = 0;      // the caller's name for the handle
  std::uint32_t events = 0;  // Readiness bits
};

// The handles an event loop waits on, each under an id of the caller's
// (epoll on POSIX). Readiness is reported by level: what is not taken is
// reported again by the next wait.
class ReadySet {
 public:
  ReadySet();  // throws std::system_error when the system gives none
  ~ReadySet();
  ReadySet(const ReadySet&) = delete;
  ReadySet& operator=(const ReadySet&) = delete;

  // False when the system refuses the handle.
  bool Add(NativeHandle handle, std::uint64_t id, std::uint32_t events);
  // The same, for a handle the loop cannot do without: throws
  // std::system_error when the system refuses it.
  void AddOrThrow(NativeHandle handle, std::uint64_t id, std::uint32_t events);
  bool Change(NativeHandle handle, std::uint64_t id, std::uint32_t events);
  void Remove(NativeHandle handle);

  // Waits at most limitMs (-1: for ever, 0: not at all) for ready handles
  // and puts up to capacity of them in ready. How many; 0 when a signal
  // interrupted the wait; -1 with problem set when the wait failed.
  int Wait(ReadyHandle* ready, int capacity, int limitMs, std::string& problem);

 private:
  NativeHandle handle_ = kNoHandle;
};

}  // namespace korvane::server
