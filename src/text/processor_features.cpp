// The recorded processor features: one flag, written at library load and read
// by the converters on every call.
#include "text/processor_features.h"

#include "platform/windows_api.h"

#include <atomic>

namespace korvane::text {
namespace {

// Relaxed is enough: the flag only selects between two paths that give the
// same results, so a thread that sees a stale value is still correct.
std::atomic<bool> hasSse2{false};

}  // namespace

void RecordProcessorFeatures() {
  hasSse2.store(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE, std::memory_order_relaxed);
}

bool ProcessorHasSse2() { return hasSse2.load(std::memory_order_relaxed); }

void SetSse2ForTesting(bool present) { hasSse2.store(present, std::memory_order_relaxed); }

}  // namespace korvane::text
