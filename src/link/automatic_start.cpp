// The process-wide hold-off of the automatic daemon start.
#include "link/automatic_start.h"

namespace korvane::link {

AutomaticStartHoldOff& AutomaticStartHoldOff::Process() {
  static AutomaticStartHoldOff holdOff;
  return holdOff;
}

bool AutomaticStartHoldOff::TryClaim(DWORD now) {
  std::uint64_t current = state_.load(std::memory_order_acquire);
  for (;;) {
    if (current & kHeld) {
      // Tick arithmetic that survives the 49.7-day wrap of GetTickCount.
      const auto untilNext = static_cast<std::int32_t>(static_cast<DWORD>(current) - now);
      if (untilNext > 0) return false;
    }
    const std::uint64_t claimed = kHeld | static_cast<DWORD>(now + kIntervalMs);
    if (state_.compare_exchange_weak(current, claimed, std::memory_order_acq_rel)) {
      beforeClaim_.store(current, std::memory_order_release);
      return true;
    }
  }
}

void AutomaticStartHoldOff::Release() { state_.store(beforeClaim_.load(std::memory_order_acquire), std::memory_order_release); }

void AutomaticStartHoldOff::HoldFrom(DWORD now) {
  state_.store(kHeld | static_cast<DWORD>(now + kIntervalMs), std::memory_order_release);
}

}  // namespace korvane::link
