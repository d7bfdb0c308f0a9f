// The hold-off of the automatic daemon start, kept for the whole process.
// Every exported call and every menu builds a link of its own, so a hold-off
// kept on the link would never hold: a shell asking for the status of each
// folder it shows would start a daemon process per folder.
#pragma once

#include "platform/windows_api.h"

#include <atomic>
#include <cstdint>

namespace korvane::link {

class AutomaticStartHoldOff {
 public:
  static constexpr DWORD kIntervalMs = 10000;

  // The process's one hold-off.
  static AutomaticStartHoldOff& Process();

  // Claims the right to start the daemon at tick now: true at most once per
  // interval, however many threads and links ask at once.
  bool TryClaim(DWORD now);
  // Gives back a claim whose start failed, so the next attempt may try
  // again at once.
  void Release();
  // Holds further starts off for one interval from tick now.
  void HoldFrom(DWORD now);

 private:
  // Bit 32 set: a start was made and none may follow before the low 32 bits,
  // a tick. Zero: no start yet.
  static constexpr std::uint64_t kHeld = std::uint64_t{1} << 32;
  std::atomic<std::uint64_t> state_{0};
  std::atomic<std::uint64_t> beforeClaim_{0};
};

}  // namespace korvane::link
